// The reset record: its file, and what it comes to; see reset_record.h.
#include "reset_record.h"

#include "text.h"
#include "toml_reading.h"

#include <cstdio>
#include <cstring>

static void addEntry(Text *t, const char *table, const ResetEntry &e)
{
	add(t, "\n%s\nboot = ", table);
	addPrintable(t, e.boot);
	add(t, "\nstopped = %.3f\nseen = %.3f\nwindow = %.3f\ninterval = %.3f\nneed_reset = %s\nwhy = ", e.stoppedS,
		e.seenS, e.windowS, e.intervalS, e.needReset ? "true" : "false");
	addPrintable(t, e.why);
	add(t, "\n");
}

bool formatResetRecord(const ResetRecord &r, char *text, size_t size)
{
	Text t = textIn(text, size);
	add(&t, "version = 1\nresets_total = %lld\nreleased = %.3f\nheld = %s\n", static_cast<long long>(r.total),
		r.releasedS, r.held ? "true" : "false");
	if (r.pending)
		addEntry(&t, "[armed]", r.armed);
	for (int i = 0; i < r.count; i++)
		addEntry(&t, "[[resets]]", r.resets[i]);
	return t.fits;
}

static void readEntry(TomlReading *r, ResetEntry *e)
{
	string(r, "boot", e->boot, sizeof e->boot);
	e->stoppedS = number(r, "stopped");
	e->seenS = number(r, "seen");
	e->windowS = number(r, "window");
	e->intervalS = number(r, "interval");
	e->needReset = flag(r, "need_reset");
	string(r, "why", e->why, sizeof e->why);
}

bool parseResetRecord(const char *text, size_t length, ResetRecord *record, char *why, size_t size)
{
	*record = ResetRecord{};
	toml::parse_result parsed;
	TomlReading r;
	if (!startReading(text, length, "a record", &parsed, &r, why, size))
		return false;
	const toml::table &table = parsed.table();
	record->total = static_cast<int64_t>(number(&r, "resets_total"));
	record->releasedS = number(&r, "released");
	record->held = flag(&r, "held");
	if (const toml::node *armed = table.get("armed")) {
		TomlReading one = within(r, *armed);
		readEntry(&one, &record->armed);
		record->pending = one.fine;
		r.fine = r.fine && one.fine;
	}
	if (const toml::node *resets = table.get("resets")) {
		const toml::array *list = resets->as_array();
		if (!list)
			missing(&r, "list of resets");
		for (size_t i = 0; list && i < list->size() && r.fine; i++) {
			if (record->count == resetsKept) {
				missing(&r, "list of resets this tool keeps");
				break;
			}
			TomlReading one = within(r, *list->get(i));
			readEntry(&one, &record->resets[record->count++]);
			r.fine = r.fine && one.fine;
		}
	}
	return r.fine;
}

Conclusion concludeRecord(const ResetRecord &r, const char *boot)
{
	if (!r.pending)
		return concludedNothing;
	if (strcmp(r.armed.boot, boot) == 0)
		return concludedSameBoot;
	// Posted, the platform acts at once; otherwise only once no heartbeat
	// has come for its window, which the boot must have outlived: it was
	// seen at each tick, so it ran up to an interval after it was last seen.
	const ResetEntry &e = r.armed;
	return e.needReset || e.seenS + e.intervalS >= e.stoppedS + e.windowS ? concludedReset : concludedNotPlatform;
}

double resetAtS(const ResetEntry &e)
{
	return e.needReset ? e.stoppedS : e.stoppedS + e.windowS;
}

void addConcluded(ResetRecord *r)
{
	if (r->count == resetsKept) {
		memmove(r->resets, r->resets + 1, sizeof r->resets - sizeof r->resets[0]);
		r->count--;
	}
	r->resets[r->count++] = r->armed;
	r->total++;
	r->pending = false;
}

int resetsWithin(const ResetRecord &r, double nowS, double periodS, double *oldestS)
{
	int n = 0;
	*oldestS = 0;
	for (int i = 0; i < r.count; i++) {
		double at = resetAtS(r.resets[i]);
		if (at > nowS - periodS && at > r.releasedS) {
			if (n++ == 0)
				*oldestS = at;
		}
	}
	return n;
}
