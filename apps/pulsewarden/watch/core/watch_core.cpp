// watch's policy. The platform is told the application is healthy by
// heartbeats, one each time a check passes; when checks fail, heartbeats
// stop, so that the platform acts. Everything here is decided from the
// events and the times the loop passes in; see watch_core.h.
#include "watch_core.h"

#include "library_result.h"
#include "probe_target.h"
#include "watch_exits.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

enum : int64_t {
	never = INT64_MAX,
	none = INT64_MIN,
	stopGraceNs = nsPerS,
	// A call into the platform's library takes milliseconds; one that
	// takes this long is said, once.
	libraryPatienceNs = 5 * nsPerS,
};

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
	askedDisableToHold,
	askedEnableToRearm,
};

// Each call as a line names it, in the order of Asked.
static const char *const callNames[] = {"isEnabled", "enable", "isEnabled", "isEnabled", "isEnabled", "markActive",
	"postAppState appStateOk", "postAppState appStateNeedReset", "disable", "disable", "enable"};

// What an accepted heartbeat says: the state it makes.
enum Announce { announceNothing, announceHealthy, announceHealthyAgain };

static const char *const stateNames[] = {"starting", "healthy", "failing", "paused", "held"};

// The library's words, as the one-shot commands print them.
static const char *resultText(int32_t result, char *text, size_t size)
{
	describeResult(result, text, size);
	return text;
}

static Action *add(Step *s, ActionKind kind)
{
	// A step takes eight at most; were the list ever full, the newest would
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
	c->platform.asked = asked;
	c->platform.askedAt = c->schedule.lastNow;
}

static bool awaiting(const WatchCore *c)
{
	return c->platform.asked != askedNothing;
}

static bool stopping(const WatchCore *c)
{
	return c->stop.requests > 0;
}

static void addLine(Step *s, Priority priority, const char *format, ...) __attribute__((format(printf, 3, 4)));

static void addLine(Step *s, Priority priority, const char *format, ...)
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

static const WatchOptions &options(const WatchCore *c)
{
	return c->setting.options;
}

// Off as someone else left it, or as the hold switched it.
static bool monitoringOff(const WatchCore *c)
{
	return c->state == statePaused || (c->state == stateHeld && c->hold.off);
}

static void exitWith(WatchCore *c, Step *s, int status, bool fromLibrary)
{
	if (c->check.running)
		add(s, actEndCheck);
	c->check.running = false;
	// Stopped in order, it leaves no figures to be scraped as if it ran;
	// any other end leaves them, for the alert that they stopped changing.
	if (status == 0 && !fromLibrary && options(c).metricsFile)
		add(s, actRemoveFigures);
	Action *a = add(s, actExit);
	a->status = status;
	a->fromLibrary = fromLibrary;
	c->stop.ended = true;
}

// What the platform does once the watcher has ended with monitoring left
// as it is: it acts on heartbeats that stop, and only on those.
static void afterUs(const WatchCore *c, char *text, size_t size)
{
	char window[32];
	formatDuration(options(c).windowNs, window, sizeof window);
	if (monitoringOff(c))
		snprintf(text, size, "; monitoring is off: the platform does nothing");
	else if (c->platform.resetPosted)
		snprintf(text, size, "; monitoring stays on, and appStateNeedReset stands: the platform acts on it");
	else if (c->platform.beatSinceOn)
		snprintf(text, size, "; monitoring stays on: the platform acts once no heartbeat has come for its "
			"window (%s)", window);
	else if (c->platform.onFromOff)
		snprintf(text, size, "; monitoring stays on, but no heartbeat was sent since it was switched on: the "
			"platform shows gray and does nothing");
	else
		snprintf(text, size, "; monitoring stays on, but this watcher sent no heartbeat: the platform acts only "
			"on heartbeats sent before it, once none has come for its window (%s)", window);
}

// The platform may reset the machine from here on: said on disk first,
// so that the boot after it can say why.
static void keepRecord(WatchCore *c, Step *s, const char *why, bool needReset)
{
	Action *a = add(s, actKeepRecord);
	a->status = needReset;
	snprintf(a->text, sizeof a->text, "%s", why);
	c->platform.recordKept = true;
}

static void takeBackRecord(WatchCore *c, Step *s)
{
	if (!c->platform.recordKept)
		return;
	add(s, actTakeBackRecord);
	c->platform.recordKept = false;
}

// Heartbeats were sent and monitoring stays on: the platform acts once
// they stop.
static bool platformWillAct(const WatchCore *c)
{
	return c->platform.beatSinceOn && !monitoringOff(c);
}

static void endOnFailure(WatchCore *c, Step *s, int status, const char *what)
{
	if (platformWillAct(c) && !c->platform.recordKept)
		keepRecord(c, s, what, false);
	char after[200];
	afterUs(c, after, sizeof after);
	addLine(s, priorityError, "%s; stopping%s", what, after);
	exitWith(c, s, status, false);
}

static void hold(WatchCore *c, Step *s, bool asBefore);

static void announceStart(WatchCore *c, Step *s)
{
	const WatchOptions &o = options(c);
	char interval[32];
	char timeout[32];
	char window[32];
	formatDuration(o.intervalNs, interval, sizeof interval);
	formatDuration(o.timeoutNs, timeout, sizeof timeout);
	formatDuration(o.windowNs, window, sizeof window);
	const char *on = c->platform.switchedOn ? "; monitoring switched on" : "";
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
		addLine(s, priorityInfo, "watching: %s every %s, timeout %s (window %s)%s; starting", parts, interval,
			timeout, window, on);
	}
	else
		addLine(s, priorityInfo, "watching process %ld: a heartbeat every %s while it runs (window %s)%s", o.pid,
			interval, window, on);
	notify(s, "READY=1");
}

static void begin(WatchCore *c, Step *s, int64_t now)
{
	const WatchOptions &o = options(c);
	c->platform.asked = askedNothing;
	c->schedule.origin = now;
	c->schedule.nextTick = now;
	c->schedule.watchdogAt = now;
	c->schedule.startDeadline = o.startTimeoutNs ? now + o.startTimeoutNs : never;
	c->record.lastAt = c->platform.lastHeartbeatAt = c->unstarted.since = none;
	c->state = o.pid ? stateHealthy : stateStarting;
	// A reset posted by an earlier watcher may still stand: the first
	// passing check takes it back.
	c->platform.resetMayStand = o.needResetAfter > 0 && !o.pid;
	c->figures.due = true;
	c->platform.recordKept = c->setting.recordStands;
	if (o.enable && c->setting.heldAtStart) {
		announceStart(c, s);
		hold(c, s, true);
	} else if (o.enable)
		ask(c, s, actAskEnabled, askedEnabledAtStart);
	else
		announceStart(c, s);
}

static void pause(WatchCore *c, Step *s)
{
	if (c->state == statePaused)
		return;
	// A heartbeat refused on the way to healthy leaves it where it was.
	c->beforePause = c->platform.announce == announceHealthy ? stateStarting
		: c->platform.announce == announceHealthyAgain ? stateFailing : c->state;
	c->platform.announce = announceNothing;
	c->platform.beatSinceOn = false;
	c->state = statePaused;
	takeBackRecord(c, s);
	c->said.heartbeatsRefused = false;
	char interval[32];
	formatDuration(options(c).intervalNs, interval, sizeof interval);
	addLine(s, priorityNotice, "paused: monitoring is off; asking again every %s", interval);
}

static void beginCheck(WatchCore *c, Step *s, int64_t now)
{
	add(s, actStartCheck);
	c->check.running = true;
	c->check.timedOut = false;
	c->check.waited = false;
	c->check.startedAt = now;
	c->check.deadline = now + options(c).timeoutNs;
}

static void heartbeat(WatchCore *c, Step *s)
{
	// A reset that may stand is taken back by a check that passed, before
	// heartbeats say healthy; one sent while checks fail (fewer than
	// --fall) leaves it standing.
	if (c->platform.resetMayStand && c->state == stateHealthy && c->record.failures == 0)
		ask(c, s, actPostOk, askedPostOk);
	else
		ask(c, s, actHeartbeat, askedHeartbeat);
}

// A heartbeat now, or once the call awaited is answered.
static void heartbeatOnceAnswered(WatchCore *c, Step *s)
{
	if (!awaiting(c))
		heartbeat(c, s);
	else
		c->platform.heartbeatNext = true;
}

// The line for a change to healthy, said once its heartbeat went out.
static void announced(WatchCore *c, Step *s, bool sent)
{
	if (c->platform.announce == announceHealthy)
		addLine(s, priorityInfo, "healthy: the check passed%s", sent ? "; heartbeats start" : "");
	else if (c->platform.announce == announceHealthyAgain)
		addLine(s, priorityInfo, "healthy again: %d passing check%s%s", c->record.passes,
			c->record.passes == 1 ? "" : "s", sent ? "; heartbeats start again" : "");
	c->platform.announce = announceNothing;
}

static void heartbeatTaken(WatchCore *c, int64_t now)
{
	c->platform.lastHeartbeatAt = now;
	c->platform.beatSinceOn = true;
	c->figures.due = true;
}

static void heartbeatAnswered(WatchCore *c, Step *s, int32_t result, int64_t now)
{
	char message[80];
	if (result == libraryOk) {
		heartbeatTaken(c, now);
		if (c->said.heartbeatsRefused)
			addLine(s, priorityInfo, "heartbeats accepted again");
		c->said.heartbeatsRefused = false;
		c->said.refusedWhileOn = false;
		announced(c, s, true);
		return;
	}
	c->figures.due = true;
	if (result == libraryNotEnabled) {
		// Off, most likely; asked, so that a platform that refuses while
		// saying it is on is not taken for one switched off.
		c->platform.refusedCall = "markActive";
		ask(c, s, actAskEnabled, askedEnabledAfterRefusal);
		return;
	}
	resultText(result, message, sizeof message);
	if (nothingToMonitor(result)) {
		// Nothing to monitor here, now or later.
		addLine(s, priorityError, "markActive: %s; stopping", message);
		exitWith(c, s, result, true);
		return;
	}
	if (!c->said.heartbeatsRefused)
		addLine(s, priorityWarning, "markActive: %s; trying again at the next check", message);
	c->said.heartbeatsRefused = true;
	announced(c, s, false);
}

// The resets that count toward --max-resets now: those that have not
// left their period.
static int resetsCounted(const WatchCore *c)
{
	int n = 0;
	for (int i = 0; i < c->setting.resetCount; i++)
		n += c->setting.resetLeaves[i] > c->schedule.lastNow;
	return n;
}

// Whether letting the platform reset the machine now would make one more
// reset than --max-resets allows.
static bool oneResetTooMany(const WatchCore *c)
{
	int limit = resetLimit(options(c));
	return limit > 0 && resetsCounted(c) >= limit;
}

static void askToHold(WatchCore *c, Step *s)
{
	if (!awaiting(c))
		ask(c, s, actDisable, askedDisableToHold);
}

// Monitoring switched off rather than let the platform reset the machine
// again: the machine is left running, checks go on and are said, and it
// re-arms once a check passes with fewer resets in the period, or once
// the operator releases it. On disk first, so that a restart or a reboot
// holds too.
static void hold(WatchCore *c, Step *s, bool asBefore)
{
	const WatchOptions &o = options(c);
	char period[32];
	formatDuration(o.maxResetsPeriodNs, period, sizeof period);
	Action *a = add(s, actHold);
	snprintf(a->text, sizeof a->text, "held%s: another reset would be more than --max-resets allows (%d in %s; %s); "
		"monitoring switched off instead, the machine left running, and checks go on; it re-arms once a check "
		"passes after the oldest leaves the period, or at once with: pulsewarden watch --release",
		asBefore ? " as before this start" : "", resetLimit(o), period, c->setting.resetsSaid);
	c->state = stateHeld;
	c->hold = {};
	c->platform.beatSinceOn = false;
	c->platform.announce = announceNothing;
	c->platform.heartbeatNext = false;
	askToHold(c, s);
}

// Monitoring switched on again after a hold: the watcher starts anew.
static void rearm(WatchCore *c, Step *s)
{
	c->hold.rearmDue = true;
	if (!awaiting(c)) {
		c->hold.rearmDue = false;
		ask(c, s, actEnable, askedEnableToRearm);
	}
}

static void holdAnswered(WatchCore *c, Step *s, Asked asked, int32_t result)
{
	char message[80];
	if (asked == askedDisableToHold) {
		// Not enabled: off already, as the hold wants it.
		c->hold.off = result == libraryOk || result == libraryNotEnabled;
		if (c->hold.off)
			takeBackRecord(c, s);
		else
			addLine(s, priorityError, "held, but disable: %s; trying again at the next check: meanwhile heartbeats "
				"stay stopped, and the platform may act", resultText(result, message, sizeof message));
		return;
	}
	if (result != libraryOk) {
		addLine(s, priorityWarning, "enable: %s; still held, trying again at the next passing check",
			resultText(result, message, sizeof message));
		return;
	}
	add(s, actEndHold);
	c->state = stateStarting;
	c->record.passes = c->record.failures = 0;
	c->platform.switchedOn = c->platform.onFromOff = true;
	c->said.notHealthyYet = false;
	addLine(s, priorityNotice, "re-armed: monitoring switched on again; starting");
}

// A check's verdict while held: said when it changes, and a pass re-arms
// once the resets counted allow it.
static void checkedWhileHeld(WatchCore *c, Step *s, const char *why)
{
	int now = why ? 2 : 1;
	if (!why && c->hold.off && !oneResetTooMany(c)) {
		rearm(c, s);
		return;
	}
	if (c->hold.said != now)
		addLine(s, priorityNotice, why ? "held: the check fails: %s" : "held: the check passes%s", why ? why
			: "; it re-arms once the oldest reset leaves the period");
	c->hold.said = now;
}

static void postNeedResetIfDue(WatchCore *c, Step *s)
{
	int n = options(c).needResetAfter;
	if (n && c->record.failures >= n && !c->platform.resetMayStand && c->state != stateStarting) {
		keepRecord(c, s, c->record.last + strlen("failed: "), true);
		if (oneResetTooMany(c)) {
			hold(c, s, false);
			return;
		}
		ask(c, s, actPostNeedReset, askedPostNeedReset);
	}
}

static void passed(WatchCore *c, Step *s)
{
	c->record.passes++;
	c->record.failures = 0;
	snprintf(c->record.last, sizeof c->record.last, "passed");
	switch (c->state) {
	case stateStarting:
		c->state = stateHealthy;
		c->platform.announce = announceHealthy;
		takeBackRecord(c, s);
		break;
	case stateFailing:
		if (c->record.passes < options(c).rise)
			return;
		c->state = stateHealthy;
		c->platform.announce = announceHealthyAgain;
		takeBackRecord(c, s);
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
		if (!c->said.notHealthyYet)
			addLine(s, priorityNotice, "not healthy yet: %s", why);
		c->said.notHealthyYet = true;
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

static double secondsSince(int64_t then, int64_t now)
{
	return static_cast<double>(now - then) / 1e9;
}

// A check that could not be started says nothing of the application: an
// upgrade replacing it, a broken install. Not counted: heartbeats go on,
// or stay stopped, as the last check that ran left them. Said once, and
// again as an error once it has lasted longer than the platform's window,
// so that a broken install is not silent.
static void notStarted(WatchCore *c, Step *s, const char *why, int64_t now)
{
	const WatchOptions &o = options(c);
	bool first = c->unstarted.since == none;
	if (first)
		c->unstarted.since = now;
	snprintf(c->unstarted.why, sizeof c->unstarted.why, "%s", why);
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
		c->figures.due = true;
		char window[32];
		formatDuration(o.windowNs, window, sizeof window);
		addLine(s, priorityError, "the check could not be started for %.1f s, longer than the platform's window (%s): "
			"nothing is being checked; %s", secondsSince(c->unstarted.since, now), window, why);
	}
	if (c->state == stateHealthy)
		heartbeatOnceAnswered(c, s);
}

static void startedAgain(WatchCore *c, Step *s, int64_t now)
{
	if (c->unstarted.since == none)
		return;
	addLine(s, c->unstarted.loud ? priorityNotice : priorityInfo, "the check starts again, after %.1f s in which it "
		"could not be started", secondsSince(c->unstarted.since, now));
	c->unstarted.since = none;
	c->unstarted.loud = false;
	c->figures.due = true;
}

bool uncheckedTooLong(const WatchCore &c)
{
	return c.unstarted.loud;
}

// What a round that ended comes to: a pass, or a failure in its own words.
static void judgeCheck(WatchCore *c, Step *s, const CheckEnd &end, int64_t now)
{
	if (!c->check.running)
		return;
	c->check.running = false;
	if (!c->check.overran)
		c->said.stillRunning = false;
	c->check.overran = false;
	if (!c->check.waited)
		c->said.waitedForProcessor = false;
	c->figures.due = true;
	if (stopping(c))
		return;
	// With probes the round says which part ran out of time; alone, the
	// program did if it was asked to end.
	bool named = end.what && end.what[0];
	bool timedOut = end.timedOut || (c->check.timedOut && !named);
	if (end.unstarted && !timedOut) {
		notStarted(c, s, end.how, now);
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
	if (c->state == stateHeld && !c->check.running && (!c->hold.off || c->hold.rearmDue)) {
		if (!c->hold.off)
			askToHold(c, s);
		else
			rearm(c, s);
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
		if (!c->said.stillRunning)
			addLine(s, priorityWarning, "the check is still running at its next start: starts are skipped until "
				"it ends");
		c->said.stillRunning = true;
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

static void resume(WatchCore *c, Step *s, int64_t now)
{
	c->state = c->beforePause;
	c->platform.onFromOff = true;
	addLine(s, priorityInfo, "resumed: monitoring is on again");
	if (!options(c).pid)
		beginCheck(c, s, now);
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
	if (!c->said.refusedWhileOn)
		addLine(s, priorityWarning, "%s: Application monitoring is not enabled, though isEnabled says it is on; "
			"trying again at the next check", c->platform.refusedCall);
	c->said.refusedWhileOn = true;
	c->said.heartbeatsRefused = true;
	announced(c, s, false);
}

static void posted(WatchCore *c, Asked asked)
{
	c->platform.resetMayStand = c->platform.resetPosted = asked == askedPostNeedReset;
	c->figures.due = true;
}

static void postAnswered(WatchCore *c, Step *s, Asked asked, int32_t result)
{
	const char *state = asked == askedPostOk ? "appStateOk" : "appStateNeedReset";
	if (result == libraryOk) {
		c->said.postRefused = false;
		posted(c, asked);
		if (asked == askedPostOk) {
			ask(c, s, actHeartbeat, askedHeartbeat);
			return;
		}
		addLine(s, priorityWarning, "posted appStateNeedReset after %d failed checks in a row", c->record.failures);
	} else if (result == libraryNotEnabled) {
		// Not posted: monitoring is off, most likely. A reset still due is
		// posted at the next failed check once it is on again.
		c->platform.refusedCall = callNames[asked];
		ask(c, s, actAskEnabled, askedEnabledAfterRefusal);
		return;
	} else {
		if (!c->said.postRefused) {
			char message[80];
			addLine(s, priorityWarning, "postAppState %s: %s; trying again at the next %s check", state,
				resultText(result, message, sizeof message), asked == askedPostOk ? "passing" : "failed");
		}
		c->said.postRefused = true;
		if (asked == askedPostOk) {
			ask(c, s, actHeartbeat, askedHeartbeat);
			return;
		}
	}
	if (c->platform.heartbeatNext) {
		c->platform.heartbeatNext = false;
		ask(c, s, actHeartbeat, askedHeartbeat);
	}
}

static void finishStop(WatchCore *c, Step *s)
{
	// Under --enable an orderly stop leaves monitoring off, whoever
	// switched it on: a planned stop must never reset the machine. Only
	// someone else's switching off (a pause) is left alone, and so is the
	// hold's: it outlives the watcher.
	if (c->state == stateHeld && c->hold.off) {
		addLine(s, priorityNotice, "stopping: held: monitoring stays off until a check passes after the oldest "
			"reset leaves the period, or pulsewarden watch --release");
		exitWith(c, s, 0, false);
		return;
	}
	if (options(c).enable && c->state != statePaused) {
		ask(c, s, actDisable, askedDisable);
		return;
	}
	if (c->state == statePaused)
		addLine(s, priorityNotice, "stopping: monitoring is off, as someone else left it");
	else if (!c->platform.beatSinceOn && c->platform.onFromOff)
		addLine(s, priorityNotice, "stopping: no heartbeat was sent since monitoring was switched on: the platform "
			"shows gray and does nothing (see --enable)");
	else {
		if (platformWillAct(c) && !c->platform.recordKept)
			keepRecord(c, s, "the watcher was stopped with monitoring left on (see --enable)", false);
		addLine(s, priorityNotice, "stopping: heartbeats stop; the platform will see them stop (see --enable)");
	}
	exitWith(c, s, 0, false);
}

static void disableAnswered(WatchCore *c, Step *s, int32_t result)
{
	if (result == libraryOk || result == libraryNotEnabled)
		takeBackRecord(c, s);
	if (result == libraryOk) {
		addLine(s, priorityNotice, "stopping: monitoring switched off");
		exitWith(c, s, 0, false);
		return;
	}
	if (result == libraryNotEnabled) {
		addLine(s, priorityNotice, "stopping: monitoring was off already");
		exitWith(c, s, 0, false);
		return;
	}
	char message[80];
	char after[200];
	afterUs(c, after, sizeof after);
	addLine(s, priorityError, "stopping: disable: %s%s", resultText(result, message, sizeof message), after);
	exitWith(c, s, exitDisableFailed, false);
}

// An enable refused: nothing is watched without monitoring.
static void enableRefused(WatchCore *c, Step *s, int32_t result)
{
	char message[80];
	addLine(s, priorityError, "enable: %s; stopping", resultText(result, message, sizeof message));
	exitWith(c, s, result, true);
}

// An answer that comes while stopping: what it says of the platform is
// kept, nothing more is asked on its account, and the stop goes on.
static void answeredWhileStopping(WatchCore *c, Step *s, Asked asked, int32_t answer, int64_t now)
{
	switch (asked) {
	case askedNothing:
	case askedDisable:
		return;
	case askedHeartbeat:
		if (nothingToMonitor(answer)) {
			heartbeatAnswered(c, s, answer, now);
			return;
		}
		if (answer == libraryOk)
			heartbeatTaken(c, now);
		break;
	case askedEnable:
		if (answer != libraryOk) {
			enableRefused(c, s, answer);
			return;
		}
		c->platform.switchedOn = c->platform.onFromOff = true;
		break;
	case askedPostOk:
	case askedPostNeedReset:
		if (answer == libraryOk)
			posted(c, asked);
		break;
	case askedDisableToHold:
		c->hold.off = answer == libraryOk || answer == libraryNotEnabled;
		if (c->hold.off)
			takeBackRecord(c, s);
		break;
	case askedEnableToRearm:
		if (answer == libraryOk) {
			add(s, actEndHold);
			c->state = stateStarting;
			c->platform.switchedOn = c->platform.onFromOff = true;
		}
		break;
	case askedEnabledAtStart:
		// Off before this watcher switched it on: nobody else's doing.
		if (!answer) {
			addLine(s, priorityNotice, "stopping: monitoring was off already");
			exitWith(c, s, 0, false);
			return;
		}
		break;
	case askedEnabledBeforeCheck:
	case askedEnabledWhilePaused:
	case askedEnabledAfterRefusal:
		// Off, there is nothing to switch off; on again, there is.
		if (!answer)
			c->state = statePaused;
		else if (c->state == statePaused)
			c->state = c->beforePause;
		break;
	}
	if (!c->check.running)
		finishStop(c, s);
}

static void answered(WatchCore *c, Step *s, int32_t answer, int64_t now)
{
	Asked asked = static_cast<Asked>(c->platform.asked);
	c->platform.asked = askedNothing;
	if (asked == askedNothing)
		return;
	if (c->said.libraryLate)
		addLine(s, priorityNotice, "%s: the platform's library answered after %.1f s", callNames[asked],
			static_cast<double>(now - c->platform.askedAt) / 1e9);
	c->said.libraryLate = false;
	if (stopping(c) && asked != askedDisable) {
		answeredWhileStopping(c, s, asked, answer, now);
		return;
	}
	switch (asked) {
	case askedNothing:
		return;
	case askedEnabledAtStart:
		if (answer) {
			announceStart(c, s);
		} else {
			c->platform.onFromOff = true;
			ask(c, s, actEnable, askedEnable);
		}
		return;
	case askedEnable:
		if (answer == libraryOk) {
			c->platform.switchedOn = true;
			announceStart(c, s);
		} else {
			enableRefused(c, s, answer);
		}
		return;
	case askedEnabledBeforeCheck:
		if (answer)
			beginCheck(c, s, now);
		else
			pause(c, s);
		return;
	case askedEnabledWhilePaused:
		if (answer)
			resume(c, s, now);
		return;
	case askedEnabledAfterRefusal:
		refusedAnswered(c, s, answer != libraryOk);
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
	case askedDisableToHold:
	case askedEnableToRearm:
		holdAnswered(c, s, asked, answer);
		return;
	}
}

// Each request to stop goes one step further than the last: the first
// stops in order (the check asked to end, then monitoring switched off
// under --enable), the second ends the check at once and still switches
// monitoring off, the third stops waiting for a library that hangs.
static void stop(WatchCore *c, Step *s, int64_t now)
{
	int request = ++c->stop.requests;
	if (request == 1) {
		c->platform.heartbeatNext = false;
		notify(s, "STOPPING=1");
		if (c->check.running) {
			add(s, actAskCheckToEnd);
			c->stop.deadline = now + stopGraceNs;
		} else if (!awaiting(c)) {
			finishStop(c, s);
		}
		return;
	}
	if (c->check.running) {
		add(s, actEndCheck);
		c->check.running = false;
		addLine(s, priorityNotice, "asked again to stop: the check is ended now");
		if (!awaiting(c))
			finishStop(c, s);
		return;
	}
	if (!awaiting(c))
		return;
	const char *call = callNames[c->platform.asked];
	double waited = secondsSince(c->platform.askedAt, now);
	if (request == 2) {
		addLine(s, priorityNotice, "asked again to stop: still waiting for the platform's library to answer %s "
			"(asked %.1f s ago); asked once more, it stops without the answer", call, waited);
		return;
	}
	// Monitoring is left as the library leaves it: under --enable, maybe on.
	bool leftOn = options(c).enable && !monitoringOff(c);
	char after[200] = "";
	if (leftOn)
		afterUs(c, after, sizeof after);
	addLine(s, leftOn ? priorityError : priorityNotice, "stopping without the platform's library's answer to %s "
		"(asked %.1f s ago)%s", call, waited, after);
	exitWith(c, s, leftOn ? exitDisableFailed : 0, false);
}

static void ago(int64_t ns, char *text, size_t size)
{
	snprintf(text, size, "%.1f s ago", static_cast<double>(ns) / 1e9);
}

static void report(const WatchCore *c, Step *s, int64_t now)
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
			secondsSince(c->platform.askedAt, now), callNames[c->platform.asked]);
	if (options(c).pid)
		addLine(s, priorityNotice, "%s; process %ld running; last heartbeat %s%s", stateNames[c->state],
			options(c).pid, beat, waiting);
	else
		addLine(s, priorityNotice, "%s; last check %s%s%s; last heartbeat %s%s", stateNames[c->state], checked,
			c->record.lastAt != none ? ", " : "", c->record.lastAt != none ? c->record.last : "", beat, waiting);
}

const char *stateName(WatchState state)
{
	return stateNames[state];
}

void statusSummary(const WatchCore &c, char *text, size_t size)
{
	const WatchOptions &o = c.setting.options;
	const char *name = stateNames[c.state];
	// The last failure, as its line said it.
	const char *why = strncmp(c.record.last, "failed: ", 8) == 0 ? c.record.last + 8 : c.record.last;
	int failures = c.record.failures;
	if (o.pid && c.state != statePaused)
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
	if (c.unstarted.since != none && !o.pid) {
		size_t used = strlen(text);
		snprintf(text + used, size - used, "; %s", c.unstarted.why);
	}
}

// Woken much later than asked: the machine was suspended (the clocks
// say so), or the watcher did not run (a starved machine, a paused VM, a
// stopped process). Either way the time away is nobody's fault: a running
// check gets its time again, and the start timeout moves on.
static void noticeGap(WatchCore *c, Step *s, int64_t now, int64_t asleep)
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
	if (!c->said.waitedForProcessor) {
		char how[32];
		if (waited >= nsPerS)
			snprintf(how, sizeof how, "%.1f s", static_cast<double>(waited) / 1e9);
		else
			snprintf(how, sizeof how, "%lld ms", static_cast<long long>(waited / nsPerMs));
		addLine(s, priorityNotice, "the check has waited %s for a processor: its timeout counts only the time it "
			"could run", how);
	}
	c->said.waitedForProcessor = true;
	return true;
}

// Whatever deadline has come.
static void due(WatchCore *c, Step *s, int64_t now, int64_t waited)
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
		if (!c->said.libraryLate && now - c->platform.askedAt >= libraryPatienceNs) {
			addLine(s, priorityWarning, "%s: the platform's library has not answered for %.1f s; waiting for it%s",
				callNames[c->platform.asked], secondsSince(c->platform.askedAt, now),
				stopping(c) ? "" : ", and no check starts meanwhile");
			c->said.libraryLate = true;
		}
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
		} else {
			add(s, actEndCheck);
			c->check.deadline = never;
		}
	}
	// A check that runs at the start timeout is heard out first: it may
	// pass, and a failure quoted is then that of a check just made.
	if (c->state == stateStarting && now >= c->schedule.startDeadline && !c->check.running) {
		char limit[32];
		char what[760];
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
		c->figures.due = true;
		// Keep to the schedule rather than catch up on it.
		c->schedule.nextTick = c->schedule.origin + ((now - c->schedule.origin) / o.intervalNs + 1) * o.intervalNs;
	}
}

// A configuration is applied whole between two rounds, never under one:
// each part's run is judged by the setting it was started with.
static void applyIfWaiting(WatchCore *c, Step *s)
{
	if (!c->reload.waiting || c->check.running || stopping(c))
		return;
	c->reload.waiting = false;
	c->reload.intervalNs = options(c).intervalNs;
	add(s, actApplyConfig);
}

// The schedule keeps its phase; a new interval counts from the last
// tick, and a tick already due under it starts now, so that no heartbeat
// comes later than either interval would have sent it.
static void configApplied(WatchCore *c, Step *s, const Event &e, int64_t now)
{
	const WatchOptions &o = options(c);
	if (o.intervalNs != c->reload.intervalNs) {
		int64_t next = c->schedule.nextTick - c->reload.intervalNs + o.intervalNs;
		c->schedule.nextTick = c->schedule.origin = next > now ? next : now;
	}
	c->figures.due = true;
	addLine(s, priorityNotice, "configuration reloaded: %s", e.why ? e.why : "");
	report(c, s, now);
	notify(s, "READY=1");
}

static int64_t nextDeadline(const WatchCore *c)
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
	if (awaiting(c)) {
		// No tick while the library is awaited: the figures keep their pace.
		if (o.metricsFile)
			atMost(c->figures.writtenAt + o.intervalNs);
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

// The metrics file's answer: a write that fails is said once, and once
// more when one succeeds again.
static void figuresWritten(WatchCore *c, Step *s, const Event &e)
{
	const char *file = options(c).metricsFile;
	if (e.answer != 0 && !c->figures.failing)
		addLine(s, priorityWarning, "cannot write the metrics file %s: %s; trying again at each tick", file,
			e.why ? e.why : "");
	else if (e.answer == 0 && c->figures.failing)
		addLine(s, priorityNotice, "the metrics file %s is written again", file);
	c->figures.failing = e.answer != 0;
}

Step watchStep(WatchCore *c, const Event &e, int64_t now, int64_t asleep)
{
	Step s = {};
	if (c->stop.ended) {
		s.deadline = never;
		return s;
	}
	WatchState before = c->state;
	if (e.kind != eventStart && e.kind != eventAnswer && e.kind != eventFiguresWritten)
		noticeGap(c, &s, now, asleep);
	c->schedule.lastNow = now;
	c->schedule.lastAsleep = asleep;
	switch (e.kind) {
	case eventStart:
		begin(c, &s, now);
		break;
	case eventAnswer:
		answered(c, &s, e.answer, now);
		break;
	case eventCheckEnded:
		judgeCheck(c, &s, e.check, now);
		if (stopping(c) && !c->check.running && !c->stop.ended && !awaiting(c))
			finishStop(c, &s);
		applyIfWaiting(c, &s);
		break;
	case eventReload:
		c->reload.waiting = true;
		applyIfWaiting(c, &s);
		// A reload that waits says so, or a check that runs long looks
		// like a reload that was lost.
		if (c->reload.waiting && !stopping(c))
			addLine(&s, priorityInfo, "configuration read and checked; it applies when the check under way ends");
		break;
	case eventReloadRefused:
		c->figures.due = true;
		addLine(&s, priorityWarning, "configuration not reloaded, the one in use stays: %s", e.why ? e.why : "");
		notify(&s, "READY=1");
		break;
	case eventConfigApplied:
		configApplied(c, &s, e, now);
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
	case eventFiguresWritten:
		figuresWritten(c, &s, e);
		break;
	case eventRelease:
		addLine(&s, priorityNotice, "released: the resets counted so far are forgiven");
		if (c->state == stateHeld && !stopping(c))
			rearm(c, &s);
		break;
	case eventTime:
		break;
	}
	if (!c->stop.ended)
		due(c, &s, now, e.checkWaitedNs);
	if (c->state != before || e.kind == eventStart)
		c->stateSince = now;
	// At each tick, and at each change of what the figures show: also
	// while paused, and while the library is awaited, so that a file not
	// written for a few intervals means the watcher is gone.
	const WatchOptions &o = options(c);
	bool idle = awaiting(c) && now - c->figures.writtenAt >= o.intervalNs;
	if (o.metricsFile && !c->stop.ended && e.kind != eventFiguresWritten
		&& (c->figures.due || c->state != before || idle)) {
		add(&s, actWriteFigures);
		c->figures.due = false;
		c->figures.writtenAt = now;
	}
	s.deadline = nextDeadline(c);
	c->schedule.deadline = s.deadline;
	return s;
}
