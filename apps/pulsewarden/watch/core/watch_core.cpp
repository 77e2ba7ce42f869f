// watch's policy. The platform is told the application is healthy by
// heartbeats, one each time a check passes; when checks fail, heartbeats
// stop, so that the platform acts. Everything here is decided from the
// events and the times the loop passes in; see watch_core.h.
#include "watch_core.h"

#include "console.h"
#include "exit_status.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

enum : int64_t { never = INT64_MAX, none = INT64_MIN, stopGraceNs = nsPerS };

// What the core waits to hear back about, and so what the answer means.
enum Asked {
	askedNothing = -1,
	askedEnabledAtStart,       // --enable: on already?
	askedEnable,
	askedEnabledBeforeCheck,   // not sending heartbeats: still on?
	askedEnabledWhilePaused,
	askedEnabledAfterRefusal,  // a call said "not enabled": really off?
	askedHeartbeat,
	askedPostOk,
	askedPostNeedReset,
	askedDisable,
};

// What an accepted heartbeat says: the state it makes.
enum Announce { announceNothing, announceHealthy, announceHealthyAgain };

static const char *const stateNames[] = {"starting", "healthy", "failing", "paused"};

// The library's messages, as the one-shot commands print them.
static const char *resultText(int32_t result, char *text, size_t size)
{
	describeResult(result, text, size);
	return text;
}

static Action *add(Step *s, ActionKind kind)
{
	// A step takes six at most; were the list ever full, the newest would
	// take the last slot, so that an exit or a call awaited is never lost.
	size_t at = s->count < maxActions ? s->count++ : maxActions - 1;
	Action *a = &s->actions[at];
	*a = Action{};
	a->kind = kind;
	return a;
}

static void ask(WatchCore *c, Step *s, ActionKind kind, Asked asked)
{
	add(s, kind);
	c->asked = asked;
}

static void say(Step *s, Priority priority, const char *format, ...) __attribute__((format(printf, 3, 4)));

static void say(Step *s, Priority priority, const char *format, ...)
{
	Action *a = add(s, actSay);
	a->priority = priority;
	va_list ap;
	va_start(ap, format);
	vsnprintf(a->text, sizeof a->text, format, ap);
	va_end(ap);
}

static void notify(Step *s, const char *message)
{
	snprintf(add(s, actNotify)->text, sizeof(Action::text), "%s", message);
}

static void exitWith(WatchCore *c, Step *s, int status, bool fromLibrary)
{
	if (c->checkRunning)
		add(s, actEndCheck);
	c->checkRunning = false;
	Action *a = add(s, actExit);
	a->status = status;
	a->fromLibrary = fromLibrary;
	c->ended = true;
}

static const WatchOptions &options(const WatchCore *c)
{
	return c->setting.options;
}

// What the platform does once the watcher has ended on a failure of its
// own: monitoring stays as it is.
static void afterUs(const WatchCore *c, char *text, size_t size)
{
	char window[32];
	formatDuration(options(c).windowNs, window, sizeof window);
	if (c->state == statePaused)
		snprintf(text, size, "; monitoring is off: the platform does nothing");
	else
		snprintf(text, size, "; monitoring stays on: the platform acts once no heartbeat has come for its "
			"window (%s)", window);
}

static void endOnFailure(WatchCore *c, Step *s, int status, const char *what)
{
	char after[128];
	afterUs(c, after, sizeof after);
	say(s, priorityError, "%s; stopping%s", what, after);
	exitWith(c, s, status, false);
}

static void announceStart(WatchCore *c, Step *s)
{
	const WatchOptions &o = options(c);
	char interval[32];
	char timeout[32];
	char window[32];
	formatDuration(o.intervalNs, interval, sizeof interval);
	formatDuration(o.timeoutNs, timeout, sizeof timeout);
	formatDuration(o.windowNs, window, sizeof window);
	const char *on = c->switchedOn ? "; monitoring switched on" : "";
	if (!o.pid) {
		// Each part, as its failure would name it: "http://x, tcp db:5432 and check".
		char parts[400] = "";
		int count = o.probeCount + (o.check ? 1 : 0);
		for (int i = 0; i < count; i++) {
			char name[300];
			if (i < o.probeCount)
				probeName(o.probes[i], name, sizeof name);
			else
				snprintf(name, sizeof name, "%s", o.check[0]);
			size_t used = strlen(parts);
			snprintf(parts + used, sizeof parts - used, "%s%s", i == 0 ? "" : i + 1 == count ? " and " : ", ", name);
		}
		say(s, priorityInfo, "watching: %s every %s, timeout %s (window %s)%s; starting", parts, interval,
			timeout, window, on);
	}
	else
		say(s, priorityInfo, "watching process %ld: a heartbeat every %s while it runs (window %s)%s", o.pid,
			interval, window, on);
	notify(s, "READY=1");
}

static void begin(WatchCore *c, Step *s, int64_t now)
{
	const WatchOptions &o = options(c);
	c->asked = askedNothing;
	c->start = now;
	c->nextTick = now;
	c->watchdogAt = now;
	c->startDeadline = o.startTimeoutNs ? now + o.startTimeoutNs : never;
	c->lastCheckAt = c->lastHeartbeatAt = none;
	c->state = o.pid ? stateHealthy : stateStarting;
	// A reset posted by an earlier watcher may still stand: the first
	// passing check takes it back.
	c->resetStanding = o.needResetAfter > 0 && !o.pid;
	if (o.enable)
		ask(c, s, actAskEnabled, askedEnabledAtStart);
	else
		announceStart(c, s);
}

static void pause(WatchCore *c, Step *s)
{
	if (c->state == statePaused)
		return;
	// A heartbeat refused on the way to healthy leaves it where it was.
	c->beforePause = c->announce == announceHealthy ? stateStarting
		: c->announce == announceHealthyAgain ? stateFailing : c->state;
	c->announce = announceNothing;
	c->state = statePaused;
	c->heartbeatsRefused = false;
	char interval[32];
	formatDuration(options(c).intervalNs, interval, sizeof interval);
	say(s, priorityNotice, "paused: monitoring is off; asking again every %s", interval);
}

static void startCheck(WatchCore *c, Step *s, int64_t now)
{
	add(s, actStartCheck);
	c->checkRunning = true;
	c->timedOut = false;
	c->checkDeadline = now + options(c).timeoutNs;
}

static void heartbeat(WatchCore *c, Step *s)
{
	// A reset that may stand is taken back before heartbeats say healthy.
	if (c->resetStanding && c->state == stateHealthy)
		ask(c, s, actPostOk, askedPostOk);
	else
		ask(c, s, actHeartbeat, askedHeartbeat);
}

// The line for a change to healthy, said once its heartbeat went out.
static void announced(WatchCore *c, Step *s, bool sent)
{
	if (c->announce == announceHealthy)
		say(s, priorityInfo, "healthy: the check passed%s", sent ? "; heartbeats start" : "");
	else if (c->announce == announceHealthyAgain)
		say(s, priorityInfo, "healthy again: %d passing check%s%s", c->passes, c->passes == 1 ? "" : "s",
			sent ? "; heartbeats start again" : "");
	c->announce = announceNothing;
}

static void heartbeatAnswered(WatchCore *c, Step *s, int32_t result, int64_t now)
{
	char message[80];
	if (result == 0) {
		c->lastHeartbeatAt = now;
		if (c->heartbeatsRefused)
			say(s, priorityInfo, "heartbeats accepted again");
		c->heartbeatsRefused = false;
		c->inconsistencySaid = false;
		announced(c, s, true);
		return;
	}
	if (result == 3) {
		// Off, most likely; asked, so that a platform that refuses while
		// saying it is on is not taken for one switched off.
		c->refusedCall = "markActive";
		ask(c, s, actAskEnabled, askedEnabledAfterRefusal);
		return;
	}
	resultText(result, message, sizeof message);
	if (result == 2 || result == 4) {
		// Nothing to monitor here, now or later.
		say(s, priorityError, "markActive: %s; stopping", message);
		exitWith(c, s, result, true);
		return;
	}
	if (!c->heartbeatsRefused)
		say(s, priorityWarning, "markActive: %s; trying again at the next check", message);
	c->heartbeatsRefused = true;
	announced(c, s, false);
}

static void postNeedResetIfDue(WatchCore *c, Step *s)
{
	int n = options(c).needResetAfter;
	if (n && c->failures >= n && !c->resetStanding && c->state != stateStarting)
		ask(c, s, actPostNeedReset, askedPostNeedReset);
}

static void passed(WatchCore *c, Step *s)
{
	c->passes++;
	c->failures = 0;
	snprintf(c->lastCheck, sizeof c->lastCheck, "passed");
	switch (c->state) {
	case stateStarting:
		c->state = stateHealthy;
		c->announce = announceHealthy;
		break;
	case stateFailing:
		if (c->passes < options(c).rise)
			return;
		c->state = stateHealthy;
		c->announce = announceHealthyAgain;
		break;
	case stateHealthy:
	case statePaused:
		break;
	}
	heartbeat(c, s);
}

static void failed(WatchCore *c, Step *s, const char *why)
{
	c->failures++;
	c->passes = 0;
	snprintf(c->lastCheck, sizeof c->lastCheck, "failed: %s", why);
	switch (c->state) {
	case stateStarting:
		// Not healthy yet: nothing is sent, the platform stays gray.
		if (!c->startFailureSaid)
			say(s, priorityNotice, "not healthy yet: %s", why);
		c->startFailureSaid = true;
		return;
	case stateHealthy:
		if (c->failures < options(c).fall) {
			// Heartbeats go on until --fall failures; a reset may be due
			// before that, and is posted first.
			postNeedResetIfDue(c, s);
			if (c->asked == askedNothing)
				heartbeat(c, s);
			else
				c->heartbeatNext = true;
			return;
		}
		c->state = stateFailing;
		say(s, priorityWarning, "failing: %s; heartbeats stop", why);
		break;
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

static void checkEnded(WatchCore *c, Step *s, const CheckEnd &end, int64_t now)
{
	if (!c->checkRunning)
		return;
	c->checkRunning = false;
	if (!c->overran)
		c->overrunSaid = false;
	c->overran = false;
	c->lastCheckAt = now;
	if (c->stopping)
		return;
	// With probes the round says which part ran out of time; alone, the
	// program did if it was asked to end.
	bool named = end.what && end.what[0];
	bool timedOut = end.timedOut || (c->timedOut && !named);
	if (end.passed && !timedOut) {
		passed(c, s);
		return;
	}
	char how[256];
	if (timedOut) {
		char timeout[32];
		formatDuration(options(c).timeoutNs, timeout, sizeof timeout);
		snprintf(how, sizeof how, "timed out after %s", timeout);
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

// The schedule's tick: a check, or, with --pid, a heartbeat.
static void tick(WatchCore *c, Step *s, int64_t now)
{
	if (c->state == statePaused) {
		ask(c, s, actAskEnabled, askedEnabledWhilePaused);
		return;
	}
	if (options(c).pid) {
		heartbeat(c, s);
		return;
	}
	if (c->checkRunning) {
		// A check being ended for its timeout is not one that overran.
		if (c->timedOut)
			return;
		if (!c->overrunSaid)
			say(s, priorityWarning, "the check is still running at its next start: starts are skipped until "
				"it ends");
		c->overrunSaid = true;
		c->overran = true;
		return;
	}
	// Not sending heartbeats, nothing else would notice monitoring switched off.
	if (c->state == stateStarting || c->state == stateFailing)
		ask(c, s, actAskEnabled, askedEnabledBeforeCheck);
	else
		startCheck(c, s, now);
}

static void resume(WatchCore *c, Step *s, int64_t now)
{
	c->state = c->beforePause;
	say(s, priorityInfo, "resumed: monitoring is on again");
	if (!options(c).pid)
		startCheck(c, s, now);
	else
		heartbeat(c, s);
}

// Monitoring off (or a refusal confirmed): what a call that said "not
// enabled" turns into.
static void refusedAnswered(WatchCore *c, Step *s, bool on)
{
	if (!on) {
		pause(c, s);
		return;
	}
	if (!c->inconsistencySaid)
		say(s, priorityWarning, "%s: Application monitoring is not enabled, though isEnabled says it is on; "
			"trying again at the next check", c->refusedCall);
	c->inconsistencySaid = true;
	c->heartbeatsRefused = true;
	announced(c, s, false);
}

static void postAnswered(WatchCore *c, Step *s, Asked asked, int32_t result)
{
	const char *state = asked == askedPostOk ? "appStateOk" : "appStateNeedReset";
	if (result == 0) {
		c->postFailureSaid = false;
		if (asked == askedPostOk) {
			c->resetStanding = false;
			ask(c, s, actHeartbeat, askedHeartbeat);
			return;
		}
		c->resetStanding = true;
		say(s, priorityWarning, "posted appStateNeedReset after %d failed checks in a row", c->failures);
	} else if (result == 3) {
		// Not posted: monitoring is off, most likely. A reset still due is
		// posted at the next failed check once it is on again.
		c->refusedCall = asked == askedPostOk ? "postAppState appStateOk" : "postAppState appStateNeedReset";
		ask(c, s, actAskEnabled, askedEnabledAfterRefusal);
		return;
	} else {
		if (!c->postFailureSaid) {
			char message[80];
			say(s, priorityWarning, "postAppState %s: %s; trying again at the next %s check", state,
				resultText(result, message, sizeof message), asked == askedPostOk ? "passing" : "failed");
		}
		c->postFailureSaid = true;
		if (asked == askedPostOk) {
			ask(c, s, actHeartbeat, askedHeartbeat);
			return;
		}
	}
	if (c->heartbeatNext) {
		c->heartbeatNext = false;
		ask(c, s, actHeartbeat, askedHeartbeat);
	}
}

static void finishStop(WatchCore *c, Step *s)
{
	// Under --enable an orderly stop leaves monitoring off, whoever
	// switched it on: a planned stop must never reset the machine. Only
	// someone else's switching off (a pause) is left alone.
	if (options(c).enable && c->state != statePaused) {
		ask(c, s, actDisable, askedDisable);
		return;
	}
	if (c->state == statePaused)
		say(s, priorityNotice, "stopping: monitoring is off, as someone else left it");
	else
		say(s, priorityNotice, "stopping: heartbeats stop; the platform will see them stop (see --enable)");
	exitWith(c, s, 0, false);
}

static void disableAnswered(WatchCore *c, Step *s, int32_t result)
{
	if (result == 0) {
		say(s, priorityNotice, "stopping: monitoring switched off");
		exitWith(c, s, 0, false);
		return;
	}
	if (result == 3) {
		say(s, priorityNotice, "stopping: monitoring was off already");
		exitWith(c, s, 0, false);
		return;
	}
	char message[80];
	char after[128];
	afterUs(c, after, sizeof after);
	say(s, priorityError, "stopping: disable: %s%s", resultText(result, message, sizeof message), after);
	exitWith(c, s, exitDisableFailed, false);
}

static void answered(WatchCore *c, Step *s, int32_t answer, int64_t now)
{
	Asked asked = static_cast<Asked>(c->asked);
	c->asked = askedNothing;
	char message[80];
	switch (asked) {
	case askedNothing:
		return;
	case askedEnabledAtStart:
		if (answer)
			announceStart(c, s);
		else
			ask(c, s, actEnable, askedEnable);
		return;
	case askedEnable:
		if (answer == 0) {
			c->switchedOn = true;
			announceStart(c, s);
			return;
		}
		say(s, priorityError, "enable: %s; stopping", resultText(answer, message, sizeof message));
		exitWith(c, s, answer, true);
		return;
	case askedEnabledBeforeCheck:
		if (answer)
			startCheck(c, s, now);
		else
			pause(c, s);
		return;
	case askedEnabledWhilePaused:
		if (answer)
			resume(c, s, now);
		return;
	case askedEnabledAfterRefusal:
		refusedAnswered(c, s, answer != 0);
		return;
	case askedHeartbeat:
		heartbeatAnswered(c, s, answer, now);
		return;
	case askedPostOk:
	case askedPostNeedReset:
		postAnswered(c, s, asked, answer);
		return;
	case askedDisable:
		disableAnswered(c, s, answer);
		return;
	}
}

static void stop(WatchCore *c, Step *s, int64_t now)
{
	if (c->stopping)
		return;
	c->stopping = true;
	c->heartbeatNext = false;
	notify(s, "STOPPING=1");
	if (c->checkRunning) {
		add(s, actAskCheckToEnd);
		c->stopDeadline = now + stopGraceNs;
		return;
	}
	finishStop(c, s);
}

static void ago(int64_t ns, char *text, size_t size)
{
	snprintf(text, size, "%.1f s ago", static_cast<double>(ns) / 1e9);
}

static void report(const WatchCore *c, Step *s, int64_t now)
{
	char checked[64] = "no check yet";
	char beat[64] = "none yet";
	if (c->lastCheckAt != none)
		ago(now - c->lastCheckAt, checked, sizeof checked);
	if (c->lastHeartbeatAt != none)
		ago(now - c->lastHeartbeatAt, beat, sizeof beat);
	if (options(c).pid)
		say(s, priorityNotice, "%s; process %ld running; last heartbeat %s", stateNames[c->state], options(c).pid,
			beat);
	else
		say(s, priorityNotice, "%s; last check %s%s%s; last heartbeat %s", stateNames[c->state], checked,
			c->lastCheckAt != none ? ", " : "", c->lastCheckAt != none ? c->lastCheck : "", beat);
}

// Woken much later than asked: the machine was suspended, or the watcher
// stopped (SIGSTOP, a paused VM). The time away is nobody's fault: a
// running check gets its time again, and the start timeout moves on.
static void noticeGap(WatchCore *c, Step *s, int64_t now)
{
	int64_t since = c->deadline > c->lastNow ? c->deadline : c->lastNow;
	int64_t late = now - since;
	int64_t threshold = options(c).intervalNs > nsPerS ? options(c).intervalNs : nsPerS;
	if (late <= threshold)
		return;
	if (c->checkRunning) {
		// Its result is the next one: the starts missed meanwhile are not
		// starts it overran.
		c->checkDeadline = now + (c->timedOut ? stopGraceNs : options(c).timeoutNs);
		c->nextTick = c->start + ((now - c->start) / options(c).intervalNs + 1) * options(c).intervalNs;
	}
	if (c->stopping)
		c->stopDeadline = now + stopGraceNs;
	if (c->startDeadline != never)
		c->startDeadline += late;
	char window[32];
	formatDuration(options(c).windowNs, window, sizeof window);
	char longer[96] = "";
	if (late >= options(c).windowNs)
		snprintf(longer, sizeof longer, "; longer than the window (%s): the platform may have acted", window);
	say(s, priorityNotice, "resumed after a gap of %.1f s (was the machine suspended?)%s",
		static_cast<double>(late) / 1e9, longer);
}

// Whatever deadline has come.
static void due(WatchCore *c, Step *s, int64_t now)
{
	const WatchOptions &o = options(c);
	if (c->setting.watchdogNs && now >= c->watchdogAt) {
		// Half the service manager's period, whatever the interval.
		notify(s, "WATCHDOG=1");
		c->watchdogAt = now + c->setting.watchdogNs / 2;
	}
	if (c->stopping) {
		if (c->checkRunning && now >= c->stopDeadline) {
			add(s, actEndCheck);
			c->checkRunning = false;
			finishStop(c, s);
		}
		return;
	}
	if (c->checkRunning && now >= c->checkDeadline) {
		if (!c->timedOut) {
			// Asked to end, then, after a grace, ended.
			c->timedOut = true;
			add(s, actAskCheckToEnd);
			c->checkDeadline = now + (o.timeoutNs < stopGraceNs ? o.timeoutNs : stopGraceNs);
		} else {
			add(s, actEndCheck);
			c->checkDeadline = never;
		}
	}
	if (c->state == stateStarting && now >= c->startDeadline) {
		char limit[32];
		char what[480];
		formatDuration(o.startTimeoutNs, limit, sizeof limit);
		snprintf(what, sizeof what, "not healthy within the start timeout of %s (last check %s)", limit,
			c->lastCheckAt != none ? c->lastCheck : "still running");
		endOnFailure(c, s, exitStartTimeout, what);
		return;
	}
	if (now >= c->nextTick) {
		tick(c, s, now);
		// Keep to the schedule rather than catch up on it.
		c->nextTick = c->start + ((now - c->start) / o.intervalNs + 1) * o.intervalNs;
	}
}

static int64_t nextDeadline(const WatchCore *c)
{
	if (c->ended)
		return never;
	int64_t d = never;
	auto atMost = [&d](int64_t t) {
		if (t < d)
			d = t;
	};
	if (c->setting.watchdogNs)
		atMost(c->watchdogAt);
	if (c->stopping) {
		if (c->checkRunning)
			atMost(c->stopDeadline);
		return d;
	}
	atMost(c->nextTick);
	if (c->checkRunning)
		atMost(c->checkDeadline);
	if (c->state == stateStarting)
		atMost(c->startDeadline);
	return d;
}

Step watchStep(WatchCore *c, const Event &e, int64_t now)
{
	Step s = {};
	if (c->ended) {
		s.deadline = never;
		return s;
	}
	if (e.kind != eventStart && e.kind != eventAnswer)
		noticeGap(c, &s, now);
	switch (e.kind) {
	case eventStart:
		begin(c, &s, now);
		break;
	case eventAnswer:
		answered(c, &s, e.answer, now);
		break;
	case eventCheckEnded:
		checkEnded(c, &s, e.check, now);
		if (c->stopping && !c->checkRunning && !c->ended && c->asked == askedNothing)
			finishStop(c, &s);
		break;
	case eventStop:
		stop(c, &s, now);
		break;
	case eventReport:
		report(c, &s, now);
		break;
	case eventProcessGone: {
		char what[64];
		snprintf(what, sizeof what, "process %ld has ended", options(c).pid);
		endOnFailure(c, &s, exitPidGone, what);
		break;
	}
	case eventTime:
		break;
	}
	// An answer awaited comes first; the deadlines wait for it.
	if (c->asked == askedNothing && !c->ended)
		due(c, &s, now);
	c->lastNow = now;
	s.deadline = nextDeadline(c);
	c->deadline = s.deadline;
	return s;
}
