// The calls to the platform, one at a time: what each answer means for
// the watcher, the heartbeats, the posts, and the stop that ends with
// monitoring left as it should be.
#include "watch_core_parts.h"

#include "duration.h"
#include "library_result.h"
#include "probe_target.h"
#include "watch_exits.h"

#include <cstdio>
#include <cstring>

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

void begin(WatchCore *c, Step *s, int64_t now)
{
	const WatchOptions &o = options(c);
	c->platform.asked = askedNothing;
	c->schedule.origin = now;
	c->schedule.nextTick = now;
	c->schedule.watchdogAt = now;
	c->schedule.startDeadline = o.startTimeoutNs ? now + o.startTimeoutNs : never;
	c->record.lastAt = c->platform.lastHeartbeatAt = c->unstarted.since = none;
	c->check.stuckSince = none;
	for (int i = 0; i <= fileRecord; i++)
		c->files.failingSince[i] = c->files.unansweredSince[i] = none;
	c->files.statusAt = none;
	c->state = o.pid ? stateHealthy : stateStarting;
	// A reset posted by an earlier watcher may still stand: the first
	// passing check takes it back.
	c->platform.resetMayStand = o.needResetAfter > 0 && !o.pid;
	c->files.figuresDue = true;
	recordAtStart(c, s, now);
	c->view.options = &c->setting.options;
	slotsAtStart(c);
	nameParts(c);
	if (o.config)
		c->view.figures.configReadS = c->unixS;
	if (o.enable && c->setting.resets.heldAtStart) {
		announceStart(c, s);
		hold(c, s, true);
	} else if (o.enable)
		ask(c, s, actAskEnabled, askedEnabledAtStart);
	else
		announceStart(c, s);
}

static void pauseWatching(WatchCore *c, Step *s)
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

void heartbeat(WatchCore *c, Step *s)
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
void heartbeatOnceAnswered(WatchCore *c, Step *s)
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

static void heartbeatTaken(WatchCore *c, Step *s, int64_t now)
{
	c->platform.lastHeartbeatAt = now;
	c->platform.beatSinceOn = true;
	c->files.figuresDue = true;
	recordAfterHeartbeat(c, s, c->platform.askedAt);
}

static void heartbeatAnswered(WatchCore *c, Step *s, int32_t result, int64_t now)
{
	char message[80];
	if (result == libraryOk) {
		heartbeatTaken(c, s, now);
		if (c->said.heartbeatsRefused)
			addLine(s, priorityInfo, "heartbeats accepted again");
		c->said.heartbeatsRefused = false;
		c->said.refusedWhileOn = false;
		announced(c, s, true);
		return;
	}
	c->files.figuresDue = true;
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
		endedAs(c, monitoringOff(c), "stopped: markActive: %s", message);
		exitWith(c, s, result, true);
		return;
	}
	addLineOnce(s, &c->said.heartbeatsRefused, priorityWarning, "markActive: %s; trying again at the next check",
		message);
	announced(c, s, false);
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
		pauseWatching(c, s);
		return;
	}
	addLineOnce(s, &c->said.refusedWhileOn, priorityWarning, "%s: Application monitoring is not enabled, though "
		"isEnabled says it is on; trying again at the next check", c->platform.refusedCall);
	c->said.heartbeatsRefused = true;
	announced(c, s, false);
}

static void posted(WatchCore *c, Asked asked)
{
	c->platform.resetMayStand = c->platform.resetPosted = asked == askedPostNeedReset;
	c->files.figuresDue = true;
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
		c->platform.refusedCall = actionName(c->platform.call);
		ask(c, s, actAskEnabled, askedEnabledAfterRefusal);
		return;
	} else {
		char message[80];
		addLineOnce(s, &c->said.postRefused, priorityWarning, "postAppState %s: %s; trying again at the next %s "
			"check", state, resultText(result, message, sizeof message), asked == askedPostOk ? "passing" : "failed");
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

void finishStop(WatchCore *c, Step *s)
{
	// A post that never went out is not the record's: heartbeats that
	// stop are, where the platform acts on them.
	if (c->kept.post != postNone) {
		c->kept.post = postNone;
		if (platformWillAct(c))
			keepRecord(c, s, c->kept.why, false);
		else
			takeBackRecord(c, s);
	}
	// Under --enable an orderly stop leaves monitoring off, whoever
	// switched it on: a planned stop must never reset the machine. Only
	// someone else's switching off (a pause) is left alone, and so is the
	// hold's: it outlives the watcher.
	if (c->state == stateHeld && c->hold.off) {
		char release[600];
		releaseCommand(options(c), release, sizeof release);
		addLine(s, priorityNotice, "stopping: held: monitoring stays off until a check passes after the oldest "
			"reset leaves the period, or %s", release);
		endedAs(c, true, "stopped, monitoring left off for the hold: off until a check passes after the oldest reset "
			"leaves the period, or %s", release);
		exitWith(c, s, 0, false);
		return;
	}
	if (options(c).enable && c->state != statePaused) {
		ask(c, s, actDisable, askedDisable);
		return;
	}
	if (c->state == statePaused) {
		addLine(s, priorityNotice, "stopping: monitoring is off, as someone else left it");
		endedAs(c, true, "stopped, monitoring left off, as someone else set it");
	} else if (!c->platform.beatSinceOn && c->platform.onFromOff) {
		addLine(s, priorityNotice, "stopping: no heartbeat was sent since monitoring was switched on: the platform "
			"shows gray and does nothing (see --enable)");
		endedAs(c, false, "stopped, monitoring left on, but no heartbeat was sent since it was switched on: the "
			"platform shows gray and does nothing (see --enable)");
	} else {
		if (platformWillAct(c) && !c->kept.stands)
			keepRecord(c, s, "the watcher was stopped with monitoring left on (see --enable)", false);
		addLine(s, priorityNotice, "stopping: heartbeats stop; the platform will see them stop (see --enable)");
		endedAs(c, false, "stopped, monitoring left on: the platform will see heartbeats stop (see --enable)");
	}
	exitWith(c, s, 0, false);
}

static void disableAnswered(WatchCore *c, Step *s, int32_t result)
{
	if (result == libraryOk || result == libraryNotEnabled)
		takeBackRecord(c, s);
	if (result == libraryOk) {
		addLine(s, priorityNotice, "stopping: monitoring switched off");
		endedAs(c, true, "stopped, monitoring switched off");
		exitWith(c, s, 0, false);
		return;
	}
	if (result == libraryNotEnabled) {
		addLine(s, priorityNotice, "stopping: monitoring was off already");
		endedAs(c, true, "stopped, monitoring was off already");
		exitWith(c, s, 0, false);
		return;
	}
	char message[80];
	char after[200];
	afterUs(c, after, sizeof after);
	addLine(s, priorityError, "stopping: disable: %s%s", resultText(result, message, sizeof message), after);
	endedAs(c, false, "stopped, but monitoring could not be switched off: disable: %s%s", message, after);
	exitWith(c, s, exitDisableFailed, false);
}

// An enable refused: nothing is watched without monitoring.
static void enableRefused(WatchCore *c, Step *s, int32_t result)
{
	char message[80];
	addLine(s, priorityError, "enable: %s; stopping", resultText(result, message, sizeof message));
	// Asked only when it was found off: it stays so.
	endedAs(c, true, "stopped: enable: %s", message);
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
			heartbeatTaken(c, s, now);
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
			endedAs(c, true, "stopped, monitoring was off already");
			exitWith(c, s, 0, false);
			return;
		}
		break;
	case askedEnabledWhileHeld:
		// On again: the stop switches it off, as the hold would.
		c->hold.off = c->hold.off && !answer;
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

void answered(WatchCore *c, Step *s, int32_t answer, int64_t now)
{
	Asked asked = static_cast<Asked>(c->platform.asked);
	c->platform.asked = askedNothing;
	if (asked == askedNothing)
		return;
	// Counted as the platform answered, for the figures.
	WatchFigures &f = c->view.figures;
	if (c->platform.call == actHeartbeat && answer == libraryOk) {
		f.heartbeats++;
		f.lastHeartbeatS = c->unixS;
	} else if (c->platform.call == actHeartbeat) {
		f.heartbeatsRefused++;
	} else if (c->platform.call == actPostNeedReset && answer == libraryOk) {
		f.needResetPosts++;
	}
	if (c->said.libraryLate)
		addLine(s, priorityNotice, "%s: the platform's library answered after %.1f s", actionName(c->platform.call),
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
			pauseWatching(c, s);
		return;
	case askedEnabledWhilePaused:
		if (answer)
			resume(c, s, now);
		return;
	case askedEnabledWhileHeld:
		// Checks go on whatever it says: a pass is what re-arms.
		if (answer)
			heldSwitchedOn(c, s);
		else
			c->said.heldSwitchedOn = false;
		beginCheck(c, s, now);
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
void stop(WatchCore *c, Step *s, int64_t now)
{
	int request = ++c->stop.requests;
	if (request == 1) {
		c->platform.heartbeatNext = false;
		notify(s, "STOPPING=1");
		// The platform is told of a reset due, whether the record that
		// says why is on disk yet or not.
		if (c->kept.post != postNone && !awaiting(c)) {
			c->kept.post = postNone;
			ask(c, s, actPostNeedReset, askedPostNeedReset);
		}
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
	const char *call = actionName(c->platform.call);
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
	endedAs(c, monitoringOff(c), "stopped without the platform's library's answer to %s%s", call, after);
	exitWith(c, s, leftOn ? exitDisableFailed : 0, false);
}
