// The watcher's status file: written as TOML by hand (a few keys, then a
// table a part, each with its results), read back with toml++.
#include "status_file.h"

#include "text.h"
#include "toml_reading.h"

#include <cstdio>
#include <cstring>

static const char *const resultNames[] = {"pass", "fail", "timeout"};

void hideCredentials(char *text)
{
	for (char *scheme = strstr(text, "://"); scheme; scheme = strstr(scheme + 3, "://")) {
		char *host = scheme + 3;
		size_t authority = strcspn(host, "/?# \"'");
		char *at = static_cast<char *>(memchr(host, '@', authority));
		char *colon = static_cast<char *>(memchr(host, ':', authority));
		if (at && colon && colon < at)
			memmove(colon, at, strlen(at) + 1);
	}
}

void addResult(PartHistory *part, double atS, ResultKind result, double durationS, const char *line)
{
	if (part->count == resultsKept)
		memmove(part->results, part->results + 1, sizeof part->results - sizeof part->results[0]);
	else
		part->count++;
	PartResult &r = part->results[part->count - 1];
	r.atS = atS;
	r.result = result;
	r.durationS = durationS;
	snprintf(r.line, sizeof r.line, "%s", line);
	makePrintable(r.line);
	hideCredentials(r.line);
}

// A string from outside, made fit first: the file must stay TOML whatever
// a check prints or a path holds.
static void addText(Text *t, const char *key, const char *value)
{
	addString(t, key);
	addString(t, " = ");
	addPrintable(t, value);
	addString(t, "\n");
}

// Written a tick: built with no formatted call a piece.
static void addNumber(Text *t, const char *key, double value, int decimals)
{
	addString(t, key);
	addString(t, " = ");
	addFixed(t, value, decimals);
	addString(t, "\n");
}

static void addWhole(Text *t, const char *key, long long value)
{
	addString(t, key);
	addString(t, " = ");
	addInteger(t, value);
	addString(t, "\n");
}

bool formatStatusFile(const WatchStatus &s, char *text, size_t size)
{
	Text t = textIn(text, size);
	addString(&t, "version = 1\n");
	addWhole(&t, "pid", s.pid);
	addText(&t, "process_start", s.processStart);
	addText(&t, "state", s.state);
	addNumber(&t, "since", s.sinceS, 3);
	addNumber(&t, "updated", s.updatedS, 3);
	addWhole(&t, "failures_in_a_row", s.failures);
	addWhole(&t, "passes_in_a_row", s.passes);
	addWhole(&t, "fall", s.fall);
	addWhole(&t, "rise", s.rise);
	addWhole(&t, "need_reset_after", s.needResetAfter);
	addNumber(&t, "interval", s.intervalS, 3);
	addNumber(&t, "next_check", s.nextCheckS, 3);
	addNumber(&t, "last_heartbeat", s.lastHeartbeatS, 3);
	addString(&t, s.resetRequested ? "reset_requested = true\n" : "reset_requested = false\n");
	addText(&t, "monitoring", s.monitoring);
	addText(&t, "config", s.config);
	addText(&t, "summary", s.summary);
	addText(&t, "unchecked", s.unchecked);
	addWhole(&t, "resets_total", s.resetsTotal);
	for (int i = 0; i < s.resetCount; i++) {
		addString(&t, "\n[[resets]]\n");
		addNumber(&t, "time", s.resets[i].atS, 3);
		addText(&t, "why", s.resets[i].why);
	}
	for (int i = 0; i < s.partCount; i++) {
		const PartHistory &p = s.parts[i];
		addString(&t, "\n[[parts]]\n");
		addText(&t, "name", p.name);
		for (int j = 0; j < p.count; j++) {
			const PartResult &r = p.results[j];
			addString(&t, "[[parts.results]]\n");
			addNumber(&t, "time", r.atS, 3);
			addString(&t, "result = \"");
			addString(&t, resultNames[r.result]);
			addString(&t, "\"\n");
			addNumber(&t, "duration", r.durationS, 6);
			addText(&t, "line", r.line);
		}
	}
	return t.fits;
}

namespace {

void readResults(TomlReading *r, PartHistory *part)
{
	const toml::array *results = r->table->get_as<toml::array>("results");
	part->count = 0;
	if (!results)
		return;
	for (const toml::node &node : *results) {
		if (!node.is_table() || part->count == resultsKept) {
			missing(r, "part's result");
			return;
		}
		TomlReading one = within(*r, node);
		PartResult &result = part->results[part->count++];
		result.atS = number(&one, "time");
		result.durationS = number(&one, "duration");
		char kind[16];
		string(&one, "result", kind, sizeof kind);
		string(&one, "line", result.line, sizeof result.line);
		result.result = strcmp(kind, "pass") == 0 ? resultPass : strcmp(kind, "timeout") == 0 ? resultTimeout
			: resultFail;
		r->fine = r->fine && one.fine;
	}
}

}  // namespace

bool parseStatusFile(const char *text, size_t length, WatchStatus *s, char *why, size_t size)
{
	*s = WatchStatus{};
	toml::parse_result parsed;
	TomlReading r;
	if (!startReading(text, length, "a status", &parsed, &r, why, size))
		return false;
	const toml::table &table = parsed.table();
	s->pid = static_cast<long>(number(&r, "pid"));
	// Older watchers did not write it.
	if (table.contains("process_start"))
		string(&r, "process_start", s->processStart, sizeof s->processStart);
	string(&r, "state", s->state, sizeof s->state);
	s->sinceS = number(&r, "since");
	s->updatedS = number(&r, "updated");
	s->failures = static_cast<int>(number(&r, "failures_in_a_row"));
	s->passes = static_cast<int>(number(&r, "passes_in_a_row"));
	s->fall = static_cast<int>(number(&r, "fall"));
	s->rise = static_cast<int>(number(&r, "rise"));
	s->needResetAfter = static_cast<int>(number(&r, "need_reset_after"));
	s->intervalS = number(&r, "interval");
	s->nextCheckS = number(&r, "next_check");
	s->lastHeartbeatS = number(&r, "last_heartbeat");
	s->resetRequested = flag(&r, "reset_requested");
	string(&r, "monitoring", s->monitoring, sizeof s->monitoring);
	string(&r, "config", s->config, sizeof s->config);
	string(&r, "summary", s->summary, sizeof s->summary);
	string(&r, "unchecked", s->unchecked, sizeof s->unchecked);
	s->resetsTotal = static_cast<long long>(number(&r, "resets_total"));
	if (const toml::array *resets = table.get_as<toml::array>("resets")) {
		for (const toml::node &node : *resets) {
			if (s->resetCount == resetsShown) {
				missing(&r, "list of resets this tool writes");
				break;
			}
			TomlReading one = within(r, node);
			s->resets[s->resetCount].atS = number(&one, "time");
			string(&one, "why", s->resets[s->resetCount].why, sizeof s->resets[0].why);
			s->resetCount++;
			r.fine = r.fine && one.fine;
		}
	}
	if (const toml::array *parts = table.get_as<toml::array>("parts")) {
		for (const toml::node &node : *parts) {
			if (!node.is_table() || s->partCount > maxProbes) {
				missing(&r, "part");
				break;
			}
			PartHistory &part = s->parts[s->partCount++];
			TomlReading one = within(r, node);
			string(&one, "name", part.name, sizeof part.name);
			readResults(&one, &part);
			r.fine = r.fine && one.fine;
			if (!one.fine)
				break;
		}
	}
	return r.fine;
}
