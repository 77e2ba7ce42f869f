// The files the watcher writes whole: when each is due, what each shows
// (the view), and a write that fails, said once, and once more when one
// succeeds again. The loop writes them; it decides none of this.
#include "watch_core_parts.h"

#include "metrics.h"
#include "status_file.h"
#include "text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

void countParts(WatchCore *c, const CheckEnd &end)
{
	if (!end.parts)
		return;
	const WatchOptions &o = options(c);
	int count = o.probeCount + (o.check ? 1 : 0);
	for (int i = 0; i < count; i++) {
		const PartOutcome &p = end.parts[i];
		// What the watcher could not check is no run of the application's,
		// failed or passed: an alert on failures must not fire for it.
		if (p.unchecked)
			continue;
		countRun(&c->view.figures, i, p.passed, p.timedOut, p.durationNs);
		addResult(&c->view.status.parts[i], c->unixS, p.passed ? resultPass : p.timedOut ? resultTimeout : resultFail,
			static_cast<double>(p.durationNs) / 1e9, p.line ? p.line : "");
	}
}

// STATUS= tells the summary when it is new, or when a line was told
// since: each line is the status for a moment; the summary stays, but for
// the watcher's last line, which says how it ended.
static void tellSummary(WatchCore *c, Step *s, const char *summary)
{
	if (c->stop.ended || (!c->files.lineSince && strcmp(summary, c->files.told) == 0))
		return;
	snprintf(add(s, actNotify)->text, sizeof(Action::text), "STATUS=%s", summary);
	snprintf(c->files.told, sizeof c->files.told, "%s", summary);
	c->files.lineSince = false;
}

// A write asked for: one that is not answered is the file's trouble too.
static void askedToWrite(WatchCore *c, FileKind file)
{
	if (c->files.unansweredSince[file] == none)
		c->files.unansweredSince[file] = c->schedule.lastNow;
}

// A file's trouble that has lasted longer than the window, said once as
// the file's: heartbeats never waited on it.
static void fileOverdue(WatchCore *c, Step *s, FileKind file)
{
	static const char *const names[] = {"the metrics file", "the status file", "the reset record"};
	int64_t now = c->schedule.lastNow;
	int64_t since = c->files.failingSince[file] != none ? c->files.failingSince[file] : c->files.unansweredSince[file];
	if (since == none || c->files.loud[file] || now - since <= options(c).windowNs)
		return;
	c->files.loud[file] = true;
	c->files.figuresDue = true;
	char window[32];
	formatDuration(options(c).windowNs, window, sizeof window);
	const char *path = file == fileMetrics && !c->files.path[file][0] ? options(c).metricsFile : c->files.path[file];
	if (c->files.failingSince[file] != none)
		addLine(s, priorityError, "%s %s could not be written for %.1f s, longer than the platform's window (%s): %s; "
			"heartbeats go on", names[file], path, secondsSince(since, now), window, c->files.why[file]);
	else
		addLine(s, priorityError, "%s%s%s has not been written for %.1f s, longer than the platform's window (%s): its "
			"write has not returned (a file system that does not answer?); heartbeats go on", names[file],
			path[0] ? " " : "", path, secondsSince(since, now), window);
}

static void writeStatusFile(WatchCore *c, Step *s, const char *summary)
{
	int64_t now = c->schedule.lastNow;
	add(s, actWriteStatus);
	askedToWrite(c, fileStatus);
	snprintf(c->files.shown, sizeof c->files.shown, "%s", summary);
	c->files.statusDue = false;
	c->files.statusAt = now;
	c->files.statusIntervalNs = options(c).intervalNs;
}

// While a reset record stands, the watcher is seen running once, at the
// first wake's end from the time that shows the boot outlived the window:
// what the next boot needs to conclude, written once.
static void seenIfDue(WatchCore *c, Step *s)
{
	int64_t now = c->schedule.lastNow;
	if (!c->kept.stands || now < c->kept.seenDue)
		return;
	Action *a = add(s, actRecordSeen);
	a->seenS = c->unixS;
	a->seenNs = now;
	c->kept.seenDue = never;
}

void writeStatus(WatchCore *c, Step *s)
{
	char summary[sizeof c->files.told];
	statusSummary(*c, summary, sizeof summary);
	tellSummary(c, s, summary);
	writeStatusFile(c, s, summary);
}

void filesDue(WatchCore *c, Step *s, bool answered, bool wakeEnds, WatchState before, EventKind kind)
{
	if (c->stop.ended)
		return;
	const WatchOptions &o = options(c);
	int64_t now = c->schedule.lastNow;
	// At each tick, and at each change of what the figures show: also
	// while paused, and while the library is awaited, so that a file not
	// written for a few intervals means the watcher is gone.
	bool idle = awaiting(c) && now - c->files.figuresAt >= o.intervalNs;
	if (o.metricsFile && kind != eventWritten && (c->files.figuresDue || c->state != before || idle)) {
		add(s, actWriteFigures);
		askedToWrite(c, fileMetrics);
		c->files.figuresDue = false;
		c->files.figuresAt = now;
	}
	for (size_t i = 0; i < s->count; i++)
		if (s->actions[i].kind == actSay || s->actions[i].kind == actHold)
			c->files.lineSince = true;
	// At once when what a person reads of it changes (a new summary):
	// before the step's lines, so that whoever reads a line and asks
	// pulsewarden status finds what the line says. Else at the end of the
	// first wake half an interval or more after the last write (the tick's
	// own, where the loop wakes anyway), and by its own deadline whatever
	// runs or hangs: its time, not a write at each wake, tells a reader
	// that the watcher runs.
	c->files.statusDue = c->files.statusDue || s->count > 0 || answered;
	if (!c->files.statusDue && !wakeEnds)
		return;
	char summary[sizeof c->files.told];
	statusSummary(*c, summary, sizeof summary);
	if (c->files.statusAt != none && strcmp(summary, c->files.shown) != 0) {
		size_t lines = s->count;
		writeStatusFile(c, s, summary);
		std::rotate(s->actions, s->actions + lines, s->actions + s->count);
	}
	// STATUS= as the wake ends, after its lines.
	if (!wakeEnds)
		return;
	tellSummary(c, s, summary);
	fileOverdue(c, s, fileMetrics);
	fileOverdue(c, s, fileStatus);
	// And at once when a reload changed the interval: a status that shows
	// the shorter one would soon read as a watcher that does not run.
	if (c->files.statusAt == none || now - c->files.statusAt >= o.intervalNs / 2
		|| o.intervalNs != c->files.statusIntervalNs)
		writeStatusFile(c, s, summary);
	seenIfDue(c, s);
}

// How a file's failure and its recovery are said.
static const struct {
	const char *failed;     // "cannot write the metrics file"
	const char *meanwhile;  // what follows from it
	const char *again;      // "the metrics file"
	const char *recovered;  // "is written again"
} fileWords[] = {
	{"cannot write the metrics file", "trying again at each tick", "the metrics file", "is written again"},
	{"cannot write the status file", "trying again at each tick", "the status file", "is written again"},
	{"cannot keep the reset record", "a reset would not be explained after the reboot", "the reset record",
		"is kept again"},
};
static_assert(sizeof fileWords / sizeof fileWords[0] == fileRecord + 1, "words for each file");

void written(WatchCore *c, Step *s, const Event &e)
{
	int file = e.answer;
	const char *path = e.path ? e.path : "";
	bool &failing = c->files.failing[file];
	char why[300];
	snprintf(why, sizeof why, "%s", e.why ? e.why : "");
	lowerFirst(why);
	if (e.why && !failing)
		addLine(s, priorityWarning, "%s %s: %s; %s", fileWords[file].failed, path, why, fileWords[file].meanwhile);
	else if (!e.why && (failing || c->files.loud[file]))
		addLine(s, priorityNotice, "%s %s %s", fileWords[file].again, path, fileWords[file].recovered);
	failing = e.why != nullptr;
	int64_t now = c->schedule.lastNow;
	c->files.unansweredSince[file] = none;
	if (!e.why) {
		c->files.figuresDue = c->files.figuresDue || c->files.loud[file];
		c->files.failingSince[file] = none;
		c->files.loud[file] = false;
	} else if (c->files.failingSince[file] == none) {
		c->files.failingSince[file] = now;
	}
	snprintf(c->files.path[file], sizeof c->files.path[file], "%s", path);
	snprintf(c->files.why[file], sizeof c->files.why[file], "%s", why);
	if (file != fileRecord)
		return;
	recordWritten(c);
	bool unkept = failing || c->setting.recordUnkept[0];
	c->files.figuresDue = c->files.figuresDue || unkept != c->view.figures.recordUnkept;
	c->view.figures.recordUnkept = unkept;
}

const WatchView &watchView(WatchCore *c)
{
	WatchView &v = c->view;
	const WatchOptions &o = options(c);
	int64_t now = c->schedule.lastNow;
	double nowS = c->unixS;
	auto unixAt = [&](int64_t t) { return nowS - static_cast<double>(now - t) / 1e9; };
	v.options = &o;
	v.state = c->state;
	WatchStatus &st = v.status;
	st.pid = c->setting.pid;
	snprintf(st.processStart, sizeof st.processStart, "%s", c->setting.processStart);
	statusSummary(*c, st.summary, sizeof st.summary);
	// Ended in order or not, it says so: "stopped" since then.
	snprintf(st.state, sizeof st.state, "%s", c->stop.ended ? "stopped" : stateName(c->state));
	st.sinceS = unixAt(c->stop.ended ? c->stop.endedAt : c->stateSince);
	st.updatedS = nowS;
	st.failures = c->record.failures;
	st.passes = c->record.passes;
	st.fall = o.fall;
	st.rise = o.rise;
	st.needResetAfter = o.needResetAfter;
	st.intervalS = static_cast<double>(o.intervalNs) / 1e9;
	bool ticking = !stopping(c) && !c->stop.ended && !o.pid;
	st.nextCheckS = ticking ? unixAt(c->schedule.nextTick) : 0;
	st.lastHeartbeatS = c->platform.lastHeartbeatAt > 0 ? unixAt(c->platform.lastHeartbeatAt) : 0;
	st.resetRequested = c->platform.resetPosted;
	snprintf(st.monitoring, sizeof st.monitoring, "%s", (c->stop.ended ? c->stop.off : monitoringOff(c)) ? "off" : "on");
	snprintf(st.config, sizeof st.config, "%s", o.config ? o.config : "command line");
	snprintf(st.unchecked, sizeof st.unchecked, "%s", c->unstarted.since != none ? c->unstarted.why : "");
	const ResetsCounted &r = c->setting.resets;
	st.resetsTotal = r.total;
	st.resetCount = r.shownCount;
	for (int i = 0; i < r.shownCount; i++) {
		st.resets[i].atS = r.shown[i].atS;
		snprintf(st.resets[i].why, sizeof st.resets[i].why, "%s", r.shown[i].why);
	}
	v.figures.unchecked = c->unstarted.loud;
	v.figures.stuck = c->check.stuckSince != none;
	v.figures.fileFailing[fileMetrics] = c->files.loud[fileMetrics];
	v.figures.fileFailing[fileStatus] = c->files.loud[fileStatus];
	v.figures.resetsTotal = r.total;
	v.figures.lastResetS = r.lastS;
	return v;
}
