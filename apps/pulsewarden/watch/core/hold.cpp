// The resets the platform may make: the record kept before one can
// happen, appStateNeedReset when due, and the hold that switches
// monitoring off rather than let --max-resets be passed.
#include "watch_core_parts.h"

#include "duration.h"
#include "library_result.h"
#include "text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

// The platform may reset the machine from here on: said on disk first,
// so that the boot after it can say why.
void keepRecord(WatchCore *c, Step *s, const char *why, bool needReset)
{
	Action *a = add(s, actKeepRecord);
	a->status = needReset;
	a->unixS = c->view.figures.lastHeartbeatS;
	c->platform.recordSeenAt = c->schedule.lastNow;
	snprintf(a->text, sizeof a->text, "%s", why);
	c->platform.recordKept = true;
}

void takeBackRecord(WatchCore *c, Step *s)
{
	if (!c->platform.recordKept)
		return;
	add(s, actTakeBackRecord);
	c->platform.recordKept = false;
}

// Heartbeats were sent and monitoring stays on: the platform acts once
// they stop.
bool platformWillAct(const WatchCore *c)
{
	return c->platform.beatSinceOn && !monitoringOff(c);
}

void endOnFailure(WatchCore *c, Step *s, int status, const char *what)
{
	if (platformWillAct(c) && !c->platform.recordKept)
		keepRecord(c, s, what, false);
	char after[200];
	afterUs(c, after, sizeof after);
	addLine(s, priorityError, "%s; stopping%s", what, after);
	exitWith(c, s, status, false);
}

// The resets that count toward --max-resets now: those that have not
// left their period.
int resetsCounted(const WatchCore *c)
{
	int n = 0;
	for (int i = 0; i < c->setting.resets.count; i++)
		n += c->setting.resets.leaves[i] > c->schedule.lastNow;
	return n;
}

// Whether letting the platform reset the machine now would make one more
// reset than --max-resets allows.
bool oneResetTooMany(const WatchCore *c)
{
	int limit = resetLimit(options(c));
	return limit > 0 && resetsCounted(c) >= limit;
}

void askToHold(WatchCore *c, Step *s)
{
	if (!awaiting(c))
		ask(c, s, actDisable, askedDisableToHold);
}

static void textOf(Action *a, const char *format, ...) PRINTF_LIKE(2, 3);

// An action's text, cut where it is full.
static void textOf(Action *a, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	vsnprintf(a->text, sizeof a->text, format, ap);
	va_end(ap);
}

void releaseCommand(const WatchOptions &o, char *text, size_t size)
{
	Text t = textIn(text, size);
	add(&t, "pulsewarden watch --release");
	if (o.config)
		add(&t, " --config %s", o.config);
	// What the command line gave, the files do not know.
	for (const OptionRow *row = optionTable; row->name; row++)
		if ((row->path == &WatchOptions::runtimeDir || row->path == &WatchOptions::stateDir)
			&& (o.given & uint64_t{1} << (row - optionTable)) && o.*row->path)
			add(&t, " %s %s", row->name, o.*row->path);
}

// Monitoring switched off rather than let the platform reset the machine
// again: the machine is left running, checks go on and are said, and it
// re-arms once a check passes with fewer resets in the period, or once
// the operator releases it. On disk first, so that a restart or a reboot
// holds too.
void hold(WatchCore *c, Step *s, bool asBefore)
{
	const WatchOptions &o = options(c);
	char period[32];
	formatDuration(o.maxResetsPeriodNs, period, sizeof period);
	char release[600];
	releaseCommand(o, release, sizeof release);
	Action *a = add(s, actHold);
	textOf(a, "held%s: another reset would be more than --max-resets allows (%d in %s; %s); "
		"monitoring switched off instead, the machine left running, and checks go on; it re-arms once a check "
		"passes after the oldest leaves the period, or at once with: %s",
		asBefore ? " as before this start" : "", resetLimit(o), period, c->setting.resets.said, release);
	c->state = stateHeld;
	c->hold = {};
	c->platform.beatSinceOn = false;
	c->platform.announce = announceNothing;
	c->platform.heartbeatNext = false;
	askToHold(c, s);
}

// Monitoring switched on again after a hold: the watcher starts anew.
void rearm(WatchCore *c, Step *s)
{
	c->hold.rearmDue = true;
	if (!awaiting(c)) {
		c->hold.rearmDue = false;
		ask(c, s, actEnable, askedEnableToRearm);
	}
}

void holdAnswered(WatchCore *c, Step *s, Asked asked, int32_t result)
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
void checkedWhileHeld(WatchCore *c, Step *s, const char *why)
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

void postNeedResetIfDue(WatchCore *c, Step *s)
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
