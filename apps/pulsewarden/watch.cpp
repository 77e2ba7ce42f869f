// watch: keeps the platform told, for as long as it runs, whether the
// application is healthy. A check runs on a fixed schedule (never two at
// once, never longer than its timeout); while it passes, each pass sends a
// heartbeat; when it fails, heartbeats stop, so that the platform acts.
// Each change of state is one line on stderr saying why; stdout is not
// written.
#include "watch.h"

#include "console.h"
#include "exit_status.h"
#include "platform.h"
#include "watch_options.h"
#include "watch_system.h"

#include <corvane-pulsewarden.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

// The priorities of the journal, and what -s hides.
enum Priority { priorityError = 3, priorityWarning = 4, priorityNotice = 5, priorityInfo = 6 };

enum WatchState { stateStarting, stateHealthy, stateFailing, statePaused };

static const char *const stateNames[] = {"starting", "healthy", "failing", "paused"};

struct Watch {
	WatchOptions options;
	WatchState state;
	WatchState beforePause;
	int passes;              // in a row
	int failures;            // in a row
	bool needResetPosted;
	bool enabledByUs;        // and not switched off by anyone since
	bool heartbeatsRefused;  // a run of refused heartbeats, said once
	bool startFailureSaid;   // why it is not healthy yet, said once
	int64_t start;           // the schedule's origin
	int64_t nextTick;
	Check *check;
	int64_t checkDeadline;
	bool timedOut;
	int64_t killAt;
	bool overrunSaid;        // for a run of checks that overrun their start
	bool overran;            // the running check did
	char lastCheck[320];     // what the last check came to
	int64_t lastCheckAt;
	int64_t lastHeartbeatAt;
	WatchedProcess *process;
	bool journal;
	bool ended;
	int exitStatus;
};

static void say(const Watch *w, Priority priority, const char *format, ...) PRINTF_LIKE(3, 4);

// One line on stderr, with the time (or, into the journal, its priority);
// the service manager gets it as the status. -s hides healthy progress.
static void say(const Watch *w, Priority priority, const char *format, ...)
{
	char message[512];
	va_list ap;
	va_start(ap, format);
	vsnprintf(message, sizeof message, format, ap);
	va_end(ap);
	char status[sizeof message + 8];
	snprintf(status, sizeof status, "STATUS=%s", message);
	notifyServiceManager(status);
	if (silentMode && priority == priorityInfo)
		return;
	if (w->journal) {
		printTo(stderr, "<%d>watch: %s\n", priority, message);
	} else {
		char now[32];
		wallClockText(now, sizeof now);
		printTo(stderr, "%s watch: %s\n", now, message);
	}
}

static void end(Watch *w, int status)
{
	w->ended = true;
	w->exitStatus = status;
}

static void pauseWatch(Watch *w)
{
	if (w->state == statePaused)
		return;
	w->beforePause = w->state;
	w->state = statePaused;
	w->enabledByUs = false;  // someone else switched it off: it is theirs now
	char interval[32];
	formatDuration(w->options.intervalNs, interval, sizeof interval);
	say(w, priorityNotice, "paused: monitoring is off; asking again every %s", interval);
}

static void heartbeat(Watch *w, int64_t now)
{
	int32_t result = Tendwell_MarkActive();
	if (result == TENDWELL_OK) {
		w->lastHeartbeatAt = now;
		if (w->heartbeatsRefused)
			say(w, priorityInfo, "heartbeats accepted again");
		w->heartbeatsRefused = false;
		return;
	}
	if (result == TENDWELL_ERR_NOT_ENABLED) {
		pauseWatch(w);
		return;
	}
	char message[80];
	describeResult(result, message, sizeof message);
	if (result == TENDWELL_ERR_NOT_IN_VM || result == TENDWELL_ERR_NOT_SUPPORTED) {
		say(w, priorityError, "markActive: %s; stopping", message);
		end(w, exitStatusForResult(result));
		return;
	}
	if (!w->heartbeatsRefused)
		say(w, priorityWarning, "markActive: %s; trying again at the next check", message);
	w->heartbeatsRefused = true;
}

static void post(Watch *w, const char *state)
{
	int32_t result = Tendwell_PostAppState(state);
	if (result == TENDWELL_OK)
		return;
	char message[80];
	describeResult(result, message, sizeof message);
	say(w, priorityWarning, "postAppState %s: %s", state, message);
}

// A state line is said once what it says is done: the heartbeat sent.
static const char *heartbeatsNow(const Watch *w, const char *sent)
{
	return w->state == stateHealthy && !w->heartbeatsRefused ? sent : "";
}

static void passed(Watch *w, int64_t now)
{
	w->passes++;
	w->failures = 0;
	snprintf(w->lastCheck, sizeof w->lastCheck, "passed");
	switch (w->state) {
	case stateStarting:
		w->state = stateHealthy;
		heartbeat(w, now);
		if (!w->ended)
			say(w, priorityInfo, "healthy: the check passed%s", heartbeatsNow(w, "; heartbeats start"));
		return;
	case stateFailing:
		if (w->passes < w->options.rise)
			return;
		w->state = stateHealthy;
		if (w->needResetPosted) {
			post(w, TENDWELL_APP_STATE_OK);
			w->needResetPosted = false;
		}
		heartbeat(w, now);
		if (!w->ended)
			say(w, priorityInfo, "healthy again: %d passing check%s%s", w->passes, w->passes == 1 ? "" : "s",
				heartbeatsNow(w, "; heartbeats start again"));
		return;
	case stateHealthy:
	case statePaused:
		heartbeat(w, now);
		return;
	}
}

static void failed(Watch *w, const char *why, int64_t now)
{
	w->failures++;
	w->passes = 0;
	snprintf(w->lastCheck, sizeof w->lastCheck, "failed: %s", why);
	switch (w->state) {
	case stateStarting:
		// Not healthy yet: nothing is sent, the platform stays gray.
		if (!w->startFailureSaid)
			say(w, priorityNotice, "not healthy yet: %s", why);
		w->startFailureSaid = true;
		return;
	case stateHealthy:
		if (w->failures < w->options.fall) {
			heartbeat(w, now);
			return;
		}
		w->state = stateFailing;
		say(w, priorityWarning, "failing: %s; heartbeats stop", why);
		break;
	case stateFailing:
	case statePaused:
		break;
	}
	if (w->options.needResetAfter && w->failures >= w->options.needResetAfter && !w->needResetPosted) {
		w->needResetPosted = true;
		post(w, TENDWELL_APP_STATE_NEED_RESET);
		say(w, priorityWarning, "posted appStateNeedReset after %d failed checks in a row", w->failures);
	}
}

// Why a check that ended failed: its exit status, the signal that killed
// it or its timeout, and the first line it printed.
static void describeOutcome(const Watch *w, const CheckOutcome &outcome, char *why, size_t size)
{
	char how[96];
	if (w->timedOut) {
		char timeout[32];
		formatDuration(w->options.timeoutNs, timeout, sizeof timeout);
		snprintf(how, sizeof how, "timed out after %s", timeout);
	} else if (outcome.exited) {
		snprintf(how, sizeof how, "exit status %d", outcome.status);
	} else {
		describeKill(outcome.status, how, sizeof how);
	}
	// One line, whatever it printed.
	char line[sizeof outcome.firstLine];
	size_t n = 0;
	for (const char *p = outcome.firstLine; *p && n + 1 < sizeof line; p++)
		line[n++] = static_cast<unsigned char>(*p) < ' ' || *p == 0x7f ? '?' : *p;
	line[n] = '\0';
	snprintf(why, size, n ? "%s: \"%s\"" : "%s", how, line);
}

static void checkDone(Watch *w, const CheckOutcome &outcome, int64_t now)
{
	finishCheck(w->check);
	w->check = nullptr;
	if (!w->overran)
		w->overrunSaid = false;
	w->overran = false;
	w->lastCheckAt = now;
	if (outcome.exited && outcome.status == 0 && !w->timedOut) {
		passed(w, now);
		return;
	}
	char why[320];
	describeOutcome(w, outcome, why, sizeof why);
	failed(w, why, now);
}

static void runCheck(Watch *w, int64_t now)
{
	char why[320];
	w->timedOut = false;
	w->check = startCheck(w->options.check, why, sizeof why);
	if (!w->check) {
		w->lastCheckAt = now;
		failed(w, why, now);
		return;
	}
	w->checkDeadline = now + w->options.timeoutNs;
	w->killAt = INT64_MAX;
}

static void tick(Watch *w, int64_t now)
{
	if (serviceWatchdogWanted())
		notifyServiceManager("WATCHDOG=1");
	if (w->state == statePaused) {
		if (!Tendwell_IsEnabled())
			return;
		w->state = w->beforePause;
		say(w, priorityInfo, "resumed: monitoring is on again");
	}
	if (w->process) {
		heartbeat(w, now);
		return;
	}
	if (w->check) {
		if (!w->overrunSaid)
			say(w, priorityWarning, "the check is still running at its next start: starts are skipped "
				"until it ends");
		w->overrunSaid = true;
		w->overran = true;
		return;
	}
	runCheck(w, now);
}

static void report(const Watch *w, int64_t now)
{
	char checked[64] = "no check yet";
	char beat[64] = "none yet";
	if (w->lastCheckAt)
		snprintf(checked, sizeof checked, "%.1f s ago", static_cast<double>(now - w->lastCheckAt) / 1e9);
	if (w->lastHeartbeatAt)
		snprintf(beat, sizeof beat, "%.1f s ago", static_cast<double>(now - w->lastHeartbeatAt) / 1e9);
	if (w->process)
		say(w, priorityNotice, "%s; process %ld running; last heartbeat %s", stateNames[w->state],
			w->options.pid, beat);
	else
		say(w, priorityNotice, "%s; last check %s%s%s; last heartbeat %s", stateNames[w->state], checked,
			w->lastCheckAt ? ", " : "", w->lastCheck, beat);
}

// The check, asked to end and then ended; monitoring switched off if this
// watcher switched it on and nobody has touched it since.
static int stop(Watch *w)
{
	notifyServiceManager("STOPPING=1");
	if (w->check) {
		stopCheck(w->check, false);
		int64_t grace = watchClockNs() + nsPerS;
		CheckOutcome outcome;
		while (!checkEnded(w->check, &outcome) && watchClockNs() < grace)
			waitForEvents(grace, w->check, nullptr);
		stopCheck(w->check, true);
		finishCheck(w->check);
		w->check = nullptr;
	}
	if (w->enabledByUs) {
		int32_t result = Tendwell_Disable();
		if (result == TENDWELL_OK) {
			say(w, priorityNotice, "stopping: monitoring switched off, as it was found");
			return 0;
		}
		char message[80];
		describeResult(result, message, sizeof message);
		say(w, priorityWarning, "stopping: disable: %s", message);
		return 0;
	}
	say(w, priorityNotice, "stopping: heartbeats stop%s",
		w->options.enable ? "" : "; the platform will see them stop (see --enable)");
	return 0;
}

static int watchUsage(const char *invocationName, const char *why)
{
	printTo(stderr, "watch: %s\n", why);
	printTo(stderr, "Usage: %s [-s] watch [OPTION...] [--] CHECK [ARG...]\n"
		"       %s [-s] watch [OPTION...] --pid PID\n", invocationName, invocationName);
	return exitUsage;
}

int runWatch(const char *invocationName, int argc, char **argv)
{
	Watch w = {};
	char why[512];
	if (!parseWatchOptions(argc, argv, &w.options, why, sizeof why))
		return watchUsage(invocationName, why);
	w.journal = stderrIsJournal();
	const WatchOptions &o = w.options;

	if (o.check && !checkProgramUsable(o.check[0], why, sizeof why)) {
		say(&w, priorityError, "cannot start the check: %s", why);
		return exitCheckUnusable;
	}
	if (o.pid && !(w.process = watchProcess(o.pid))) {
		say(&w, priorityError, "process %ld does not exist", o.pid);
		return exitPidGone;
	}
	if (!catchRequests(why, sizeof why)) {
		say(&w, priorityError, "%s", why);
		return 1;
	}
	if (o.enable && !Tendwell_IsEnabled()) {
		int32_t result = Tendwell_Enable();
		if (result != TENDWELL_OK) {
			char message[80];
			describeResult(result, message, sizeof message);
			say(&w, priorityError, "enable: %s; stopping", message);
			return exitStatusForResult(result);
		}
		w.enabledByUs = true;
	}
	char interval[32];
	char timeout[32];
	char window[32];
	formatDuration(o.intervalNs, interval, sizeof interval);
	formatDuration(o.timeoutNs, timeout, sizeof timeout);
	formatDuration(o.windowNs, window, sizeof window);
	if (o.check)
		say(&w, priorityInfo, "watching: %s every %s, timeout %s (window %s)%s; starting", o.check[0], interval,
			timeout, window, w.enabledByUs ? "; monitoring switched on" : "");
	else
		say(&w, priorityInfo, "watching process %ld: a heartbeat every %s while it runs (window %s)%s", o.pid,
			interval, window, w.enabledByUs ? "; monitoring switched on" : "");
	notifyServiceManager("READY=1");

	w.state = o.pid ? stateHealthy : stateStarting;
	w.start = watchClockNs();
	w.nextTick = w.start;
	int64_t startDeadline = o.startTimeoutNs ? w.start + o.startTimeoutNs : INT64_MAX;
	for (;;) {
		int64_t deadline = w.nextTick;
		if (w.check)
			deadline = w.timedOut ? w.killAt < deadline ? w.killAt : deadline
				: w.checkDeadline < deadline ? w.checkDeadline : deadline;
		if (w.state == stateStarting && startDeadline < deadline)
			deadline = startDeadline;
		unsigned woke = waitForEvents(deadline, w.check, w.process);
		int64_t now = watchClockNs();
		if (woke & wokeByStop)
			return stop(&w);
		if (woke & wokeByReport)
			report(&w, now);
		CheckOutcome outcome;
		if (w.check && checkEnded(w.check, &outcome)) {
			checkDone(&w, outcome, now);
		} else if (w.check && !w.timedOut && now >= w.checkDeadline) {
			// Asked to end, then, after a grace, ended.
			w.timedOut = true;
			stopCheck(w.check, false);
			w.killAt = now + (o.timeoutNs < nsPerS ? o.timeoutNs : nsPerS);
		} else if (w.check && w.timedOut && now >= w.killAt) {
			stopCheck(w.check, true);
			w.killAt = INT64_MAX;
		}
		if (w.process && processGone(w.process)) {
			say(&w, priorityError, "process %ld has ended; stopping", o.pid);
			end(&w, exitPidGone);
		}
		if (!w.ended && w.state == stateStarting && now >= startDeadline) {
			char limit[32];
			formatDuration(o.startTimeoutNs, limit, sizeof limit);
			say(&w, priorityError, "not healthy within the start timeout of %s (last check %s); stopping", limit,
				w.lastCheckAt ? w.lastCheck : "still running");
			end(&w, exitStartTimeout);
		}
		if (!w.ended && now >= w.nextTick) {
			// The machine slept, or we were held up: check now, then keep to
			// the schedule rather than catch up on it.
			if (now - w.nextTick > 2 * o.intervalNs) {
				char gap[32];
				formatDuration((now - w.nextTick + o.intervalNs) / nsPerMs * nsPerMs, gap, sizeof gap);
				say(&w, priorityNotice, "resumed after a gap of %s (was the machine suspended?); checking now",
					gap);
			}
			tick(&w, now);
			w.nextTick = w.start + ((now - w.start) / o.intervalNs + 1) * o.intervalNs;
		}
		if (w.ended) {
			if (w.check) {
				stopCheck(w.check, true);
				finishCheck(w.check);
			}
			return w.exitStatus;
		}
	}
}
