// The reset record: its text, its slots, and what it comes to; see
// reset_record.h.
#include "reset_record.h"

#include "text.h"
#include "toml_reading.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static void addEntry(Text *t, const char *table, const ResetEntry &e)
{
	add(t, "\n%s\nboot = ", table);
	addPrintable(t, e.boot);
	add(t, "\nstopped = %.3f\nseen = %.3f\n", e.stoppedS, e.seenS);
	if (e.bootClocked)
		add(t, "stopped_boot = %.3f\nseen_boot = %.3f\n", e.stoppedBootS, e.seenBootS);
	add(t, "window = %.3f\ninterval = %.3f\nneed_reset = %s\nwhy = ", e.windowS, e.intervalS,
		e.needReset ? "true" : "false");
	addPrintable(t, e.why);
	add(t, "\n");
}

// The record with the resets kept from `first` on.
static bool formatFrom(const ResetRecord &r, int first, char *text, size_t size)
{
	Text t = textIn(text, size);
	add(&t, "version = 1\nresets_total = %lld\nreleased = %.3f\nheld = %s\n", static_cast<long long>(r.total),
		r.releasedS, r.held ? "true" : "false");
	if (r.unreadS > 0)
		add(&t, "unread = %.3f\n", r.unreadS);
	if (r.pending)
		addEntry(&t, "[armed]", r.armed);
	for (int i = first; i < r.count; i++)
		addEntry(&t, "[[resets]]", r.resets[i]);
	return t.fits;
}

bool formatResetRecord(const ResetRecord &r, char *text, size_t size)
{
	for (int first = 0; first <= r.count; first++)
		if (formatFrom(r, first, text, size))
			return true;
	return false;
}

// A key that records of older versions lack.
static double optionalNumber(TomlReading *r, const char *key, bool *present)
{
	*present = r->table && r->table->get(key);
	return *present ? number(r, key) : 0;
}

static void readEntry(TomlReading *r, ResetEntry *e)
{
	string(r, "boot", e->boot, sizeof e->boot);
	e->stoppedS = number(r, "stopped");
	e->seenS = number(r, "seen");
	bool stopped = false;
	bool seen = false;
	e->stoppedBootS = optionalNumber(r, "stopped_boot", &stopped);
	e->seenBootS = optionalNumber(r, "seen_boot", &seen);
	e->bootClocked = stopped && seen;
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
	bool unread = false;
	record->unreadS = optionalNumber(&r, "unread", &unread);
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

// FNV-1a: a torn write or a flipped bit, not an adversary, is what it
// has to tell.
static uint64_t checksum(uint64_t sum, const char *bytes, size_t length)
{
	for (size_t i = 0; i < length; i++) {
		sum ^= static_cast<unsigned char>(bytes[i]);
		sum *= 1099511628211ULL;
	}
	return sum;
}

static const char slotMark[] = "pulsewarden reset record ";
enum : uint64_t { checksumStart = 14695981039346656037ULL };

size_t recordSlotOf(uint64_t sequence)
{
	return static_cast<size_t>(sequence % 2);
}

size_t frameRecordSlot(const char *text, size_t length, uint64_t sequence, char *slot)
{
	if (length > recordTextRoom)
		return 0;
	int named = snprintf(slot, recordLineRoom, "%s%llu, slot %zu, %zu bytes", slotMark,
		static_cast<unsigned long long>(sequence), recordSlotOf(sequence), length);
	uint64_t sum = checksum(checksum(checksumStart, slot, static_cast<size_t>(named)), text, length);
	int line = named + snprintf(slot + named, recordLineRoom - static_cast<size_t>(named),
		", checksum %016llx\n", static_cast<unsigned long long>(sum));
	memcpy(slot + line, text, length);
	return static_cast<size_t>(line) + length;
}

// In the slot's line: `before`, then a number.
static bool field(const char **p, const char *before, int base, unsigned long long *value)
{
	size_t skip = strlen(before);
	if (strncmp(*p, before, skip) != 0)
		return false;
	char *end = nullptr;
	*value = strtoull(*p + skip, &end, base);
	if (end == *p + skip)
		return false;
	*p = end;
	return true;
}

static bool readSlot(const char *slot, size_t length, size_t index, ResetRecord *record, uint64_t *sequence,
	char *why, size_t size)
{
	char line[recordLineRoom];
	size_t most = length < sizeof line ? length : sizeof line;
	const char *end = static_cast<const char *>(memchr(slot, '\n', most));
	if (!end || strncmp(slot, slotMark, strlen(slotMark)) != 0) {
		snprintf(why, size, "slot %zu is not one this tool writes", index);
		return false;
	}
	memcpy(line, slot, static_cast<size_t>(end - slot));
	line[end - slot] = '\0';
	const char *p = line + strlen(slotMark);
	unsigned long long seq = 0;
	unsigned long long which = 0;
	unsigned long long textLength = 0;
	unsigned long long sum = 0;
	bool read = field(&p, "", 10, &seq) && field(&p, ", slot ", 10, &which) && field(&p, ", ", 10, &textLength)
		&& strncmp(p, " bytes", 6) == 0;
	// What the checksum covers of the line: all before it.
	const char *named = read ? p + 6 : p;
	p = named;
	read = read && field(&p, ", checksum ", 16, &sum) && *p == '\0';
	if (!read || which != index || recordSlotOf(seq) != index) {
		snprintf(why, size, "slot %zu: its first line is not one this tool writes", index);
		return false;
	}
	const char *text = end + 1;
	if (textLength > length - static_cast<size_t>(text - slot)) {
		snprintf(why, size, "slot %zu is cut short", index);
		return false;
	}
	if (checksum(checksum(checksumStart, line, static_cast<size_t>(named - line)), text, textLength) != sum) {
		snprintf(why, size, "slot %zu does not match its checksum (written in part)", index);
		return false;
	}
	char reason[240];
	if (!parseResetRecord(text, textLength, record, reason, sizeof reason)) {
		snprintf(why, size, "slot %zu: %s", index, reason);
		return false;
	}
	*sequence = seq;
	return true;
}

RecordFound readRecordSlots(const char *bytes, size_t length, ResetRecord *record, uint64_t *sequence, char *why,
	size_t size)
{
	static ResetRecord slots[2];
	uint64_t sequences[2] = {0, 0};
	bool whole[2] = {false, false};
	bool written[2] = {false, false};
	char reasons[2][300] = {"", ""};
	for (size_t i = 0; i < 2; i++) {
		size_t at = i * recordSlotSize;
		size_t in = length > at ? length - at : 0;
		in = in < recordSlotSize ? in : recordSlotSize;
		// Never written: the zeros the file was made with.
		written[i] = in > 0 && bytes[at] != '\0';
		whole[i] = written[i] && readSlot(bytes + at, in, i, &slots[i], &sequences[i], reasons[i], sizeof reasons[i]);
	}
	why[0] = '\0';
	*sequence = 0;
	*record = ResetRecord{};
	// Made at its full size, and never cut since: a file of another size
	// is damage, never a record that holds nothing.
	size_t made = recordFileSize;
	bool cut = length != made;
	if (!whole[0] && !whole[1]) {
		if (!written[0] && !written[1] && !cut)
			return recordEmpty;
		if (written[0] || written[1])
			snprintf(why, size, "%s", written[0] ? reasons[0] : reasons[1]);
		else
			snprintf(why, size, "%zu bytes, not the %zu it is made with", length, made);
		return recordUnreadable;
	}
	size_t newest = !whole[0] || (whole[1] && sequences[1] > sequences[0]) ? 1 : 0;
	if (written[1 - newest] && !whole[1 - newest])
		snprintf(why, size, "%s", reasons[1 - newest]);
	else if (cut)
		snprintf(why, size, "%zu bytes, not the %zu it is made with", length, made);
	*record = slots[newest];
	*sequence = sequences[newest];
	return recordFound;
}

double seenAfterS(const ResetEntry &e)
{
	return e.bootClocked ? e.seenBootS - e.stoppedBootS : e.seenS - e.stoppedS;
}

Conclusion concludeRecord(const ResetRecord &r, const char *boot)
{
	if (!r.pending)
		return concludedNothing;
	if (strcmp(r.armed.boot, boot) == 0)
		return concludedSameBoot;
	// Posted, the platform acts at once; otherwise only once no heartbeat
	// has come for its window, which the boot must have outlived: it was
	// seen once that was less than an interval away, so it ran up to an
	// interval after it was last seen (to the millisecond the record keeps).
	const ResetEntry &e = r.armed;
	return e.needReset || seenAfterS(e) + e.intervalS >= e.windowS - 0.001 ? concludedReset : concludedNotPlatform;
}

double stoppedAtS(const ResetEntry &e)
{
	return e.bootClocked ? e.seenS - seenAfterS(e) : e.stoppedS;
}

double resetAtS(const ResetEntry &e)
{
	return e.needReset ? e.stoppedS : e.stoppedS + e.windowS;
}

void addConcluded(ResetRecord *r, double nowS)
{
	if (r->count == resetsKept) {
		memmove(r->resets, r->resets + 1, sizeof r->resets - sizeof r->resets[0]);
		r->count--;
	}
	ResetEntry &e = r->resets[r->count++];
	e = r->armed;
	e.stoppedS = stoppedAtS(e);
	if (resetAtS(e) > nowS)
		e.stoppedS -= resetAtS(e) - nowS;
	r->total++;
	r->pending = false;
}

bool resetCounts(const ResetRecord &r, double atS, double nowS, double periodS)
{
	return atS > nowS - periodS && atS > r.releasedS;
}

int resetsCountedAt(const ResetRecord &r, double nowS, double periodS, int limit, double *atS, int most)
{
	int n = 0;
	if (r.unreadS > 0 && resetCounts(r, r.unreadS, nowS, periodS))
		for (int i = 0; i < limit && n < most; i++)
			atS[n++] = r.unreadS;
	for (int i = 0; i < r.count && n < most; i++)
		if (resetCounts(r, resetAtS(r.resets[i]), nowS, periodS))
			atS[n++] = resetAtS(r.resets[i]);
	return n;
}
