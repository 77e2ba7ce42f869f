// When things are due: the ticks, the check's timeout and the time it
// waited for a processor, the start timeout, the watchdog, and a wake
// that came late.
#include "watch_core_parts.h"

#include "duration.h"
#include "watch_exits.h"

#include <cstdio>

void beginCheck(WatchCore *c, Step *s, int64_t now)
{
	// Checks never pile up: none starts while one is still there.
	if (c->check.stuckSince != none) {
		stillStuck(c, s, now);
		return;
	}
	add(s, actStartCheck);
	c->check.running = true;
	c->check.timedOut = false;
	c->check.killed = false;
	c->check.waited = false;
	c->check.startedAt = now;
	c->check.deadline = now + options(c).timeoutNs;
}

// The schedule's tick: a check, or, with --pid, a heartbeat.
static void tick(WatchCore *c, Step *s, int64_t now)
{
	if (c->state == statePaused) {
		ask(c, s, actAskEnabled, askedEnabledWhilePaused);
		return;
	}
	if (c->state == stateHeld && !c->check.running && (!c->hold.off || c->hold.rearmDue)) {
		if (!c->hold.off)
			askToHold(c, s);
		else
			rearm(c, s);
		return;
	}
	// Held off, someone may have switched it on since: with no heartbeats,
	// the platform would reset the machine the brake keeps running.
	if (c->state == stateHeld && !c->check.running) {
		ask(c, s, actAskEnabled, askedEnabledWhileHeld);
		return;
	}
	if (options(c).pid) {
		heartbeat(c, s);
		return;
	}
	if (c->check.running) {
		// A check being ended for its timeout is not one that overran.
		if (c->check.timedOut)
			return;
		addLineOnce(s, &c->said.stillRunning, priorityWarning, "the check is still running at its next start: starts "
			"are skipped until it ends");
		c->check.overran = true;
		// Not judged yet: heartbeats go on as the last check that ran said.
		if (c->state == stateHealthy && !awaiting(c))
			heartbeat(c, s);
		return;
	}
	// Not sending heartbeats, nothing else would notice monitoring switched off.
	if (c->state == stateStarting || c->state == stateFailing)
		ask(c, s, actAskEnabled, askedEnabledBeforeCheck);
	else
		beginCheck(c, s, now);
}

// Woken much later than asked: the machine was suspended (the clocks
// say so), or the watcher did not run (a starved machine, a paused VM, a
// stopped process). Either way the time away is nobody's fault: a running
// check gets its time again, and the start timeout moves on.
void noticeGap(WatchCore *c, Step *s, int64_t now, int64_t asleep)
{
	int64_t since = c->schedule.deadline > c->schedule.lastNow ? c->schedule.deadline : c->schedule.lastNow;
	int64_t late = now - since;
	const WatchOptions &o = options(c);
	int64_t threshold = o.intervalNs > nsPerS ? o.intervalNs : nsPerS;
	if (late <= threshold)
		return;
	if (c->check.running) {
		// Its result is the next one: the starts missed meanwhile are not
		// starts it overran.
		c->check.deadline = now + (c->check.timedOut ? stopGraceNs : o.timeoutNs);
		c->schedule.nextTick = c->schedule.origin + ((now - c->schedule.origin) / o.intervalNs + 1) * o.intervalNs;
	}
	if (stopping(c))
		c->stop.deadline = now + stopGraceNs;
	if (c->schedule.startDeadline != never)
		c->schedule.startDeadline += late;
	char window[32];
	formatDuration(o.windowNs, window, sizeof window);
	// Only heartbeats that stopped can have made the platform act.
	char longer[96] = "";
	if (late >= o.windowNs && c->platform.beatSinceOn && !monitoringOff(c))
		snprintf(longer, sizeof longer, "; longer than the window (%s): the platform may have acted", window);
	int64_t slept = asleep - c->schedule.lastAsleep;
	if (slept * 2 > late)
		addLine(s, priorityNotice, "resumed after the machine was suspended for %.1f s%s",
			static_cast<double>(slept) / 1e9, longer);
	else
		addLine(s, priorityNotice, "woke %.1f s late: the watcher did not run meanwhile (a starved machine, a "
			"paused virtual machine or a stopped process)%s", static_cast<double>(late) / 1e9, longer);
}

// A check's timeout counts the time it could run: what its processes
// spent waiting for a processor (a starved machine) is the machine's, not
// the application's. Waits of less than a tenth of the timeout are any
// machine's, and a hang on it times out on time. Put off at most until the
// window has passed since it started; past that it times out, whatever it
// waited.
static bool waitedForProcessor(WatchCore *c, Step *s, int64_t waited, int64_t now)
{
	const WatchOptions &o = options(c);
	int64_t ran = now - c->check.startedAt;
	int64_t own = ran - waited;
	if (waited * 10 < o.timeoutNs || own >= o.timeoutNs || ran >= o.windowNs)
		return false;
	int64_t until = now + (o.timeoutNs - own);
	int64_t last = c->check.startedAt + o.windowNs;
	c->check.deadline = until < last ? until : last;
	c->check.waited = true;
	char how[32];
	if (waited >= nsPerS)
		snprintf(how, sizeof how, "%.1f s", static_cast<double>(waited) / 1e9);
	else
		snprintf(how, sizeof how, "%lld ms", static_cast<long long>(waited / nsPerMs));
	addLineOnce(s, &c->said.waitedForProcessor, priorityNotice, "the check has waited %s for a processor: its "
		"timeout counts only the time it could run", how);
	return true;
}

// Killed, and still there a grace later: the kernel holds it (a file
// system that does not answer), and nothing can end it. The timeout is
// judged now, not once it can be collected, which may be never.
static void letCheckBe(WatchCore *c, Step *s, int64_t now)
{
	add(s, actLetCheckBe);
	c->check.deadline = never;
	c->check.stuckSince = now;
	c->files.figuresDue = true;
	char interval[32];
	formatDuration(options(c).intervalNs, interval, sizeof interval);
	addLine(s, priorityError, "the check cannot be ended: its processes are still there %.1f s after they were "
		"killed (held by the kernel: a file system that does not answer?); no check starts until they have gone, "
		"and every %s counts as a timeout meanwhile", secondsSince(now - stopGraceNs, now), interval);
}

// Whatever deadline has come.
void due(WatchCore *c, Step *s, int64_t now, int64_t waited)
{
	const WatchOptions &o = options(c);
	if (c->setting.watchdogNs && now >= c->schedule.watchdogAt) {
		// Half the service manager's period, whatever the interval. The
		// loop keeps it while the platform's library hangs: it waits on the
		// library without hanging itself, and a watcher started again
		// would wait on the same library.
		notify(s, "WATCHDOG=1");
		c->schedule.watchdogAt = now + c->setting.watchdogNs / 2;
	}
	if (awaiting(c)) {
		if (now - c->platform.askedAt >= libraryPatienceNs)
			addLineOnce(s, &c->said.libraryLate, priorityWarning, "%s: the platform's library has not answered for "
				"%.1f s; waiting for it%s", actionName(c->platform.call), secondsSince(c->platform.askedAt, now),
				stopping(c) ? "" : ", and no check starts meanwhile");
		return;
	}
	if (stopping(c)) {
		if (c->check.running && now >= c->stop.deadline) {
			add(s, actEndCheck);
			c->check.running = false;
			finishStop(c, s);
		}
		return;
	}
	if (c->check.running && now >= c->check.deadline && !(!c->check.timedOut && waitedForProcessor(c, s, waited, now))) {
		if (!c->check.timedOut) {
			// Asked to end, then, after a grace, ended.
			c->check.timedOut = true;
			add(s, actAskCheckToEnd);
			c->check.deadline = now + (o.timeoutNs < stopGraceNs ? o.timeoutNs : stopGraceNs);
		} else if (!c->check.killed) {
			add(s, actEndCheck);
			c->check.killed = true;
			c->check.deadline = now + stopGraceNs;
		} else {
			letCheckBe(c, s, now);
		}
	}
	// A check that runs at the start timeout is heard out first: it may
	// pass, and a failure quoted is then that of a check just made.
	if (c->state == stateStarting && now >= c->schedule.startDeadline && !c->check.running) {
		char limit[32];
		char what[1100];
		formatDuration(o.startTimeoutNs, limit, sizeof limit);
		bool unstarted = c->unstarted.since != none;
		snprintf(what, sizeof what, "not healthy within the start timeout of %s (last check %s%s%s)", limit,
			c->record.lastAt != none ? c->record.last : "none yet", unstarted ? "; " : "",
			unstarted ? c->unstarted.why : "");
		endOnFailure(c, s, exitStartTimeout, what);
		return;
	}
	if (now >= c->schedule.nextTick) {
		tick(c, s, now);
		c->files.figuresDue = true;
		// Keep to the schedule rather than catch up on it.
		c->schedule.nextTick = c->schedule.origin + ((now - c->schedule.origin) / o.intervalNs + 1) * o.intervalNs;
	}
}

int64_t nextDeadline(const WatchCore *c)
{
	if (c->stop.ended)
		return never;
	int64_t d = never;
	auto atMost = [&d](int64_t t) {
		if (t < d)
			d = t;
	};
	const WatchOptions &o = options(c);
	if (c->setting.watchdogNs)
		atMost(c->schedule.watchdogAt);
	atMost(recordDeadline(c));
	if (awaiting(c)) {
		// No tick while the library is awaited: the figures keep their pace.
		if (o.metricsFile)
			atMost(c->files.figuresAt + o.intervalNs);
		if (!c->said.libraryLate)
			atMost(c->platform.askedAt + libraryPatienceNs);
		return d;
	}
	if (stopping(c)) {
		if (c->check.running)
			atMost(c->stop.deadline);
		return d;
	}
	atMost(c->schedule.nextTick);
	if (c->check.running)
		atMost(c->check.deadline);
	else if (c->state == stateStarting)
		atMost(c->schedule.startDeadline);
	return d;
}
