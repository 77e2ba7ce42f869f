// What a round that ended comes to: a pass, a failure in its own words,
// or no verdict at all (a check that could not be started); and the state
// in a line, as the service manager and pulsewarden status carry it.
#include "watch_core_parts.h"

#include "duration.h"

#include <cstdio>
#include <cstring>

static void passed(WatchCore *c, Step *s)
{
	c->record.passes++;
	c->record.failures = 0;
	snprintf(c->record.last, sizeof c->record.last, "passed");
	switch (c->state) {
	case stateStarting:
		c->state = stateHealthy;
		c->platform.announce = announceHealthy;
		break;
	case stateFailing:
		if (c->record.passes < options(c).rise)
			return;
		c->state = stateHealthy;
		c->platform.announce = announceHealthyAgain;
		break;
	case stateHeld:
		checkedWhileHeld(c, s, nullptr);
		return;
	case stateHealthy:
	case statePaused:
		break;
	}
	heartbeat(c, s);
}

static void failed(WatchCore *c, Step *s, const char *why)
{
	c->record.failures++;
	c->record.passes = 0;
	snprintf(c->record.last, sizeof c->record.last, "failed: %s", why);
	switch (c->state) {
	case stateStarting:
		// Not healthy yet: nothing is sent, the platform stays gray.
		addLineOnce(s, &c->said.notHealthyYet, priorityNotice, "not healthy yet: %s", why);
		return;
	case stateHealthy:
		if (c->record.failures < options(c).fall) {
			// Heartbeats go on until --fall failures; a reset may be due
			// before that, and is posted first.
			postNeedResetIfDue(c, s);
			if (c->state == stateHeld)
				return;
			heartbeatOnceAnswered(c, s);
			return;
		}
		if (platformWillAct(c))
			keepRecord(c, s, why, false);
		if (platformWillAct(c) && oneResetTooMany(c)) {
			addLine(s, priorityWarning, "failing: %s; heartbeats stop", why);
			hold(c, s, false);
			return;
		}
		c->state = stateFailing;
		addLine(s, priorityWarning, "failing: %s; heartbeats stop", why);
		break;
	case stateHeld:
		checkedWhileHeld(c, s, why);
		return;
	case stateFailing:
	case statePaused:
		break;
	}
	postNeedResetIfDue(c, s);
}

// A check's first line made fit for one line of the log.
static void oneLine(const char *text, char *line, size_t size)
{
	size_t n = 0;
	for (const char *p = text; *p && n + 1 < size; p++)
		line[n++] = static_cast<unsigned char>(*p) < ' ' || *p == 0x7f ? '?' : *p;
	line[n] = '\0';
}

// A check that could not be started says nothing of the application: an
// upgrade replacing it, a broken install. Not counted: heartbeats go on,
// or stay stopped, as the last check that ran left them. Said once, and
// again as an error once it has lasted longer than the platform's window,
// so that a broken install is not silent.
static void notStarted(WatchCore *c, Step *s, const CheckEnd &end, int64_t now)
{
	const WatchOptions &o = options(c);
	bool first = c->unstarted.since == none;
	if (first)
		c->unstarted.since = now;
	const char *what = end.what ? end.what : "";
	snprintf(c->unstarted.what, sizeof c->unstarted.what, "%s", what);
	if (what[0])
		snprintf(c->unstarted.why, sizeof c->unstarted.why, "cannot check %s: %s", what, end.how);
	else
		snprintf(c->unstarted.why, sizeof c->unstarted.why, "%s", end.how);
	const char *why = c->unstarted.why;
	if (first) {
		const char *meanwhile = c->state == stateHealthy ? "heartbeats go on as before"
			: c->state == stateFailing ? "heartbeats stay stopped as before"
			: c->state == stateStarting ? "no heartbeat until a check has run"
			: c->state == stateHeld ? "the hold stands" : "monitoring is off";
		char interval[32];
		formatDuration(o.intervalNs, interval, sizeof interval);
		addLine(s, priorityWarning, "%s; not counted against the application: %s; tried again every %s", why,
			meanwhile, interval);
	}
	if (!c->unstarted.loud && now - c->unstarted.since > o.windowNs) {
		c->unstarted.loud = true;
		c->files.figuresDue = true;
		char window[32];
		formatDuration(o.windowNs, window, sizeof window);
		char subject[340];
		if (what[0])
			snprintf(subject, sizeof subject, "%s could not be checked", what);
		else
			snprintf(subject, sizeof subject, "the check could not be started");
		addLine(s, priorityError, "%s for %.1f s, longer than the platform's window (%s): nothing is being checked; %s",
			subject, secondsSince(c->unstarted.since, now), window, why);
	}
	// Not for ever: a removed application must not keep a machine healthy.
	if (now - c->unstarted.since >= o.uncheckedLimitNs) {
		char limit[32];
		formatDuration(o.uncheckedLimitNs, limit, sizeof limit);
		if (!c->unstarted.overLimit)
			addLine(s, priorityError, "nothing could be checked for %s (--unchecked-limit): each round counts as "
				"failed from now on; %s", limit, why);
		c->unstarted.overLimit = true;
		char failure[700];
		snprintf(failure, sizeof failure, "nothing checked for %s: %s", limit, why);
		c->record.lastAt = now;
		failed(c, s, failure);
		return;
	}
	if (c->state == stateHealthy)
		heartbeatOnceAnswered(c, s);
}

static void startedAgain(WatchCore *c, Step *s, int64_t now)
{
	if (c->unstarted.since == none)
		return;
	if (c->unstarted.what[0])
		addLine(s, c->unstarted.loud ? priorityNotice : priorityInfo, "%s is checked again, after %.1f s in which it "
			"could not be", c->unstarted.what, secondsSince(c->unstarted.since, now));
	else
		addLine(s, c->unstarted.loud ? priorityNotice : priorityInfo, "the check starts again, after %.1f s in which "
			"it could not be started", secondsSince(c->unstarted.since, now));
	c->unstarted.since = none;
	c->unstarted.loud = false;
	c->unstarted.overLimit = false;
	c->files.figuresDue = true;
}

// What a round that ended comes to: a pass, or a failure in its own words.
void judgeCheck(WatchCore *c, Step *s, const CheckEnd &end, int64_t now)
{
	if (!c->check.running)
		return;
	c->check.running = false;
	if (!c->check.overran)
		c->said.stillRunning = false;
	c->check.overran = false;
	if (!c->check.waited)
		c->said.waitedForProcessor = false;
	c->files.figuresDue = true;
	if (stopping(c))
		return;
	// With probes the round says which part ran out of time; alone, the
	// program did if it was asked to end.
	bool named = end.what && end.what[0];
	bool timedOut = end.timedOut || (c->check.timedOut && !named);
	if (end.unstarted && !timedOut) {
		notStarted(c, s, end, now);
		return;
	}
	c->record.lastAt = now;
	startedAgain(c, s, now);
	if (end.passed && !timedOut) {
		passed(c, s);
		return;
	}
	char how[256];
	if (timedOut) {
		char timeout[32];
		formatDuration(end.timeoutNs ? end.timeoutNs : options(c).timeoutNs, timeout, sizeof timeout);
		snprintf(how, sizeof how, "timed out after %s%s", timeout, end.stuck ? ", and cannot be ended" : "");
	} else {
		snprintf(how, sizeof how, "%s", end.how);
	}
	char line[210];
	oneLine(end.firstLine, line, sizeof line);
	char why[320];
	if (named)
		snprintf(why, sizeof why, line[0] ? "%s: %s: \"%s\"" : "%s: %s", end.what, how, line);
	else
		snprintf(why, sizeof why, line[0] ? "%s: \"%s\"" : "%s", how, line);
	failed(c, s, why);
}

void stillStuck(WatchCore *c, Step *s, int64_t now)
{
	c->record.lastAt = now;
	c->files.figuresDue = true;
	char timeout[32];
	char why[160];
	formatDuration(options(c).timeoutNs, timeout, sizeof timeout);
	snprintf(why, sizeof why, "timed out after %s, and cannot be ended", timeout);
	// The check program's run, as a timeout each tick: the figures count
	// what the state says.
	if (options(c).check)
		countRun(&c->view.figures, options(c).probeCount, false, true, 0);
	startedAgain(c, s, now);
	failed(c, s, why);
}

void checkGone(WatchCore *c, Step *s, int64_t now)
{
	if (c->check.stuckSince == none)
		return;
	addLine(s, priorityNotice, "the check that could not be ended has gone, after %.1f s: checks start again",
		secondsSince(c->check.stuckSince, now));
	c->check.stuckSince = none;
	c->files.figuresDue = true;
}

static void ago(int64_t ns, char *text, size_t size)
{
	snprintf(text, size, "%.1f s ago", static_cast<double>(ns) / 1e9);
}

void report(const WatchCore *c, Step *s, int64_t now)
{
	char checked[64] = "no check yet";
	char beat[64] = "none yet";
	char waiting[120] = "";
	if (c->record.lastAt != none)
		ago(now - c->record.lastAt, checked, sizeof checked);
	if (c->platform.lastHeartbeatAt != none)
		ago(now - c->platform.lastHeartbeatAt, beat, sizeof beat);
	if (awaiting(c))
		snprintf(waiting, sizeof waiting, "; waiting %.1f s for the platform's library to answer %s",
			secondsSince(c->platform.askedAt, now), actionName(c->platform.call));
	if (options(c).pid)
		addLine(s, priorityNotice, "%s; process %ld running; last heartbeat %s%s", stateName(c->state),
			options(c).pid, beat, waiting);
	else
		addLine(s, priorityNotice, "%s; last check %s%s%s; last heartbeat %s%s", stateName(c->state), checked,
			c->record.lastAt != none ? ", " : "", c->record.lastAt != none ? c->record.last : "", beat, waiting);
}

void statusSummary(const WatchCore &c, char *text, size_t size)
{
	const WatchOptions &o = c.setting.options;
	const char *name = stateName(c.state);
	// The last failure, as its line said it.
	const char *why = strncmp(c.record.last, "failed: ", 8) == 0 ? c.record.last + 8 : c.record.last;
	int failures = c.record.failures;
	if (c.stop.ended)
		snprintf(text, size, "%s", c.stop.how);
	else if (o.pid && c.state != statePaused)
		snprintf(text, size, "%s: process %ld running", name, o.pid);
	else if (c.state == statePaused)
		snprintf(text, size, "paused: monitoring is off");
	else if (c.state == stateHeld) {
		char period[32];
		formatDuration(o.maxResetsPeriodNs, period, sizeof period);
		int counted = resetsCounted(&c);
		snprintf(text, size, "held: %d reset%s within %s; monitoring off; the last check %s", counted,
			counted == 1 ? "" : "s", period, c.record.lastAt == none ? "is to come" : failures ? "failed" : "passed");
	}
	else if (c.record.lastAt == none)
		snprintf(text, size, "%s: no check yet", name);
	else if (c.state == stateStarting)
		snprintf(text, size, "starting: not healthy yet: %s", why);
	else if (c.state == stateFailing && c.record.passes)
		snprintf(text, size, "failing: %d of %d passed to be healthy again", c.record.passes, o.rise);
	else if (failures == 0)
		snprintf(text, size, "healthy");
	else if (c.state == stateHealthy)
		snprintf(text, size, "healthy: %d of %d failed; %s", failures, o.fall, why);
	else if (c.platform.resetPosted)
		snprintf(text, size, "failing: %d in a row, appStateNeedReset posted; %s", failures, why);
	else if (o.needResetAfter)
		snprintf(text, size, "failing: %d of %d; %s", failures, o.needResetAfter, why);
	else
		snprintf(text, size, "failing: %d in a row; %s", failures, why);
	if (c.unstarted.since != none && !o.pid && !c.stop.ended) {
		size_t used = strlen(text);
		snprintf(text + used, size - used, "; %s", c.unstarted.why);
	}
}
