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

// When the record is to say the watcher was seen running: once the boot
// has outlived the window after the last heartbeat, less the interval the
// next boot allows for a boot seen then (concludeRecord), and not again;
// never where `seenAt` shows it already, nor after a post, on which the
// platform acts at once.
static int64_t seenDue(const WatchCore *c, int64_t stoppedAt, int64_t seenAt)
{
	const WatchOptions &o = options(c);
	int64_t at = stoppedAt + o.windowNs - o.intervalNs;
	if (c->kept.posted || at <= seenAt)
		return never;
	return at > c->schedule.lastNow ? at : c->schedule.lastNow;
}

// The platform may reset the machine from here on: said on disk, so that
// the boot after it can say why.
void keepRecord(WatchCore *c, Step *s, const char *why, bool needReset)
{
	int64_t now = c->schedule.lastNow;
	bool beat = !needReset && c->platform.lastHeartbeatAt != none;
	Action *a = add(s, actKeepRecord);
	a->status = needReset;
	a->unixS = beat ? c->view.figures.lastHeartbeatS : c->unixS;
	a->bootNs = beat ? c->platform.lastHeartbeatAt : now;
	a->seenS = c->unixS;
	a->seenNs = now;
	snprintf(a->text, sizeof a->text, "%s", why);
	if (why != c->kept.why)
		snprintf(c->kept.why, sizeof c->kept.why, "%s", why);
	c->kept.stands = true;
	c->kept.posted = needReset;
	c->kept.at = now;
	c->kept.seenDue = seenDue(c, a->bootNs, now);
}

void takeBackRecord(WatchCore *c, Step *s)
{
	if (!c->kept.stands)
		return;
	add(s, actTakeBackRecord);
	c->kept.stands = false;
	c->kept.seenDue = never;
}

void recordAtStart(WatchCore *c, Step *s, int64_t now)
{
	const WatchSetting &set = c->setting;
	c->kept.stands = set.recordStands;
	c->kept.posted = set.recordPosted;
	c->kept.at = now;
	c->kept.post = postNone;
	// An earlier watcher's: seen once it shows the window outlived, as its
	// last heartbeat tells; one that does not tell was kept before now.
	c->kept.seenDue = !set.recordStands ? never : seenDue(c, set.recordStoppedAt ? set.recordStoppedAt : now, none);
	c->view.figures.recordUnkept = set.recordUnkept[0] != '\0';
	if (!c->view.figures.recordUnkept)
		return;
	bool brake = resetLimit(options(c)) > 0;
	addLine(s, brake ? priorityError : priorityWarning, "%s; %sa reset would not be explained after the reboot",
		set.recordUnkept, brake ? "the brake cannot count resets (--max-resets), and " : "");
}

void recordAfterHeartbeat(WatchCore *c, Step *s, int64_t askedAt)
{
	// The platform acts on a post that stands or is about to, whatever
	// heartbeats say.
	if (!c->kept.stands || c->platform.resetMayStand || c->kept.post != postNone)
		return;
	if (askedAt >= c->kept.at)
		takeBackRecord(c, s);
	else if (!c->kept.posted)
		keepRecord(c, s, c->kept.why, false);
}

void recordWritten(WatchCore *c)
{
	if (c->kept.post == postWaitsForRecord)
		c->kept.post = postDue;
}

void postOnceRecorded(WatchCore *c, Step *s)
{
	int64_t now = c->schedule.lastNow;
	if (c->kept.post == postWaitsForRecord && now >= c->kept.postBy) {
		char patience[32];
		formatDuration(recordPatienceNs, patience, sizeof patience);
		addLine(s, priorityWarning, "the reset record was not on disk within %s: appStateNeedReset is posted "
			"without it", patience);
		c->kept.post = postDue;
	}
	if (c->kept.post != postDue || awaiting(c) || stopping(c) || c->stop.ended)
		return;
	c->kept.post = postNone;
	ask(c, s, actPostNeedReset, askedPostNeedReset);
}

int64_t recordDeadline(const WatchCore *c)
{
	int64_t seen = c->kept.stands ? c->kept.seenDue : never;
	int64_t post = c->kept.post == postWaitsForRecord ? c->kept.postBy : never;
	return seen < post ? seen : post;
}

// Heartbeats were sent and monitoring stays on: the platform acts once
// they stop.
bool platformWillAct(const WatchCore *c)
{
	return c->platform.beatSinceOn && !monitoringOff(c);
}

void endOnFailure(WatchCore *c, Step *s, int status, const char *what)
{
	if (platformWillAct(c) && !c->kept.stands)
		keepRecord(c, s, what, false);
	char after[200];
	afterUs(c, after, sizeof after);
	addLine(s, priorityError, "%s; stopping%s", what, after);
	endedAs(c, monitoringOff(c), "stopped: %s%s", what, after);
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

// Switched on by someone else while held: off again, as the brake
// holds, and said, with the way to end the hold.
void heldSwitchedOn(WatchCore *c, Step *s)
{
	char release[600];
	releaseCommand(options(c), release, sizeof release);
	addLineOnce(s, &c->said.heldSwitchedOn, priorityWarning, "held, but monitoring was switched on meanwhile: "
		"switching it off again, as heartbeats stay stopped and the platform would reset the machine; the hold ends "
		"with: %s", release);
	c->hold.off = false;
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
	if (n && c->record.failures >= n && !c->platform.resetMayStand && c->kept.post == postNone
		&& c->state != stateStarting) {
		keepRecord(c, s, c->record.last + strlen("failed: "), true);
		if (oneResetTooMany(c)) {
			hold(c, s, false);
			return;
		}
		// Posted once the record is on disk: where none can be kept, now.
		c->kept.post = c->view.figures.recordUnkept ? postDue : postWaitsForRecord;
		c->kept.postBy = c->schedule.lastNow + recordPatienceNs;
	}
}
