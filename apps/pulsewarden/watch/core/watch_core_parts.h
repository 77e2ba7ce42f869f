// The parts of watch's core, as they call each other; the loop sees
// watch_core.h alone.
#pragma once

#include "format_attribute.h"
#include "watch_core.h"

#include <cstddef>
#include <cstdint>

enum : int64_t {
	never = INT64_MAX,
	none = INT64_MIN,
	stopGraceNs = nsPerS,
	// A call into the platform's library takes milliseconds; one that
	// takes this long is said, once.
	libraryPatienceNs = 5 * nsPerS,
	// appStateNeedReset waits this long at most for the record that says
	// why to be on disk: the platform must be told, even by a watcher
	// whose disk stalls.
	recordPatienceNs = 3 * nsPerS,
};

// appStateNeedReset and the record kept for it (WatchCore.kept.post).
enum PostState { postNone, postWaitsForRecord, postDue };

// What the core waits to hear back about, and so what the answer means.
enum Asked {
	askedNothing = -1,
	askedEnabledAtStart,       // --enable: on already?
	askedEnable,
	askedEnabledBeforeCheck,   // not sending heartbeats: still on?
	askedEnabledWhilePaused,
	askedEnabledWhileHeld,     // held off: switched on by someone else since?
	askedEnabledAfterRefusal,  // a call said "not enabled": really off?
	askedHeartbeat,
	askedPostOk,
	askedPostNeedReset,
	askedDisable,
	askedDisableToHold,
	askedEnableToRearm,
};

// What an accepted heartbeat says: the state it makes.
enum Announce { announceNothing, announceHealthy, announceHealthyAgain };

// The step: actions added, the calls asked, the end.
// The library's words, as the one-shot commands print them.
const char *resultText(int32_t result, char *text, size_t size);
Action *add(Step *s, ActionKind kind);
void ask(WatchCore *c, Step *s, ActionKind kind, Asked asked);
bool awaiting(const WatchCore *c);
bool stopping(const WatchCore *c);
void addLine(Step *s, Priority priority, const char *format, ...) PRINTF_LIKE(3, 4);
// A line said once: not again until `said` is let go, when what it says
// has changed.
void addLineOnce(Step *s, bool *said, Priority priority, const char *format, ...) PRINTF_LIKE(4, 5);
void notify(Step *s, const char *message);
const WatchOptions &options(const WatchCore *c);
// Off as someone else left it, or as the hold switched it.
bool monitoringOff(const WatchCore *c);
// How the watcher ends, as its last status says it ("stopped, monitoring
// switched off"), and whether monitoring is off as it does: said before
// exitWith, which says "stopped" where nothing was.
void endedAs(WatchCore *c, bool off, const char *format, ...) PRINTF_LIKE(3, 4);
void exitWith(WatchCore *c, Step *s, int status, bool fromLibrary);
// What the platform does once the watcher has ended with monitoring left
// as it is: it acts on heartbeats that stop, and only on those.
void afterUs(const WatchCore *c, char *text, size_t size);
double secondsSince(int64_t then, int64_t now);

// The calls to the platform and their answers (platform_calls.cpp).
void begin(WatchCore *c, Step *s, int64_t now);
void heartbeat(WatchCore *c, Step *s);
// A heartbeat now, or once the call awaited is answered.
void heartbeatOnceAnswered(WatchCore *c, Step *s);
void finishStop(WatchCore *c, Step *s);
void answered(WatchCore *c, Step *s, int32_t answer, int64_t now);
// Each request to stop goes one step further than the last: the first
// stops in order (the check asked to end, then monitoring switched off
// under --enable), the second ends the check at once and still switches
// monitoring off, the third stops waiting for a library that hangs.
void stop(WatchCore *c, Step *s, int64_t now);

// The reset record, appStateNeedReset and the hold (hold.cpp).
// The platform may reset the machine from here on: said on disk first,
// so that the boot after it can say why.
void keepRecord(WatchCore *c, Step *s, const char *why, bool needReset);
void takeBackRecord(WatchCore *c, Step *s);
// What the record says at the start: an earlier watcher's of this boot,
// or none; whether it can be kept at all.
void recordAtStart(WatchCore *c, Step *s, int64_t now);
// A heartbeat the platform took, asked at `askedAt`: one that went out
// after the record was kept takes it back; one before moves its last
// heartbeat on.
void recordAfterHeartbeat(WatchCore *c, Step *s, int64_t askedAt);
// The record written, or not: appStateNeedReset waits no more.
void recordWritten(WatchCore *c);
// appStateNeedReset once it is due and no call is awaited.
void postOnceRecorded(WatchCore *c, Step *s);
// When the record is to say the watcher was seen running.
int64_t recordDeadline(const WatchCore *c);
// Heartbeats were sent and monitoring stays on: the platform acts once
// they stop.
bool platformWillAct(const WatchCore *c);
void endOnFailure(WatchCore *c, Step *s, int status, const char *what);
// The resets that count toward --max-resets now: those that have not
// left their period.
int resetsCounted(const WatchCore *c);
// Whether letting the platform reset the machine now would make one more
// reset than --max-resets allows.
bool oneResetTooMany(const WatchCore *c);
void askToHold(WatchCore *c, Step *s);
// Monitoring switched off rather than let the platform reset the machine
// again: the machine is left running, checks go on and are said, and it
// re-arms once a check passes with fewer resets in the period, or once
// the operator releases it. On disk first, so that a restart or a reboot
// holds too.
void hold(WatchCore *c, Step *s, bool asBefore);
// The command that releases this watcher's hold, with what it needs to
// find the watcher and its record: "pulsewarden watch --release --config
// /etc/pulsewarden/watch.toml".
void releaseCommand(const WatchOptions &options, char *text, size_t size);
// Monitoring switched on again after a hold: the watcher starts anew.
void rearm(WatchCore *c, Step *s);
// Held, but switched on by someone else: switched off again (hold.cpp).
void heldSwitchedOn(WatchCore *c, Step *s);
void holdAnswered(WatchCore *c, Step *s, Asked asked, int32_t result);
// A check's verdict while held: said when it changes, and a pass re-arms
// once the resets counted allow it.
void checkedWhileHeld(WatchCore *c, Step *s, const char *why);
void postNeedResetIfDue(WatchCore *c, Step *s);

// The schedule and the timeouts (schedule.cpp).
void beginCheck(WatchCore *c, Step *s, int64_t now);
// Nothing is left of the check let be: checks start again.
void checkGone(WatchCore *c, Step *s, int64_t now);
// Woken much later than asked: the machine was suspended (the clocks
// say so), or the watcher did not run (a starved machine, a paused VM, a
// stopped process). Either way the time away is nobody's fault: a running
// check gets its time again, and the start timeout moves on.
void noticeGap(WatchCore *c, Step *s, int64_t now, int64_t asleep);
// Whatever deadline has come.
void due(WatchCore *c, Step *s, int64_t now, int64_t waited);
int64_t nextDeadline(const WatchCore *c);

// The configuration read again (reload.cpp).
// The slot the start read is the one in use.
void slotsAtStart(WatchCore *c);
void reloadAsked(WatchCore *c, Step *s, int64_t now);
void configRead(WatchCore *c, Step *s, const Event &e, int64_t now);
// The one waiting applied, once no round runs and no stop is under way.
void applyIfWaiting(WatchCore *c, Step *s, int64_t now);
void nameParts(WatchCore *c);

// The files written whole and what they show (files.cpp).
// At the end of a wake, or at the end: the status file when something
// happened or an interval has passed; the metrics file when what it shows
// changed, at each tick, and each interval while the library is awaited.
void filesDue(WatchCore *c, Step *s, bool answered, bool wakeEnds, WatchState before, EventKind kind);
void written(WatchCore *c, Step *s, const Event &e);
// The status file written, told as STATUS= first where it says something
// new; the reset record's "still seen" at most once an interval.
void writeStatus(WatchCore *c, Step *s);
// A run of each part of a round that ended, counted and kept.
void countParts(WatchCore *c, const CheckEnd &end);

// The checks' verdicts (verdicts.cpp).
// What a round that ended comes to: a pass, or a failure in its own words.
void judgeCheck(WatchCore *c, Step *s, const CheckEnd &end, int64_t now);
// A tick while the check let be is still there: no check starts, and it
// counts as one more timeout.
void stillStuck(WatchCore *c, Step *s, int64_t now);
void report(const WatchCore *c, Step *s, int64_t now);
