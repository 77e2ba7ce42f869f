// watch's policy, as a pure function of events and time: it is told what
// happened (a deadline came, a check ended, a stop was asked for, the
// library answered, the figures were written) with the time as plain
// values, and answers with what to do and the one next deadline. It reads
// no clock and calls neither the library nor the system: the loop
// (watch.cpp) does all of that, and decides nothing.
#pragma once

#include "watch_options.h"

#include <cstddef>
#include <cstdint>

// The priorities of the journal; -s hides priorityInfo.
enum Priority { priorityError = 3, priorityWarning = 4, priorityNotice = 5, priorityInfo = 6 };

// held: monitoring switched off rather than let the platform reset the
// machine once more than --max-resets allows.
enum WatchState { stateStarting, stateHealthy, stateFailing, statePaused, stateHeld };

enum EventKind {
	eventStart,        // the watcher begins; nothing asked of the platform yet
	eventTime,         // time has passed: whatever deadline came is due
	eventCheckEnded,   // the running check ended (or could not be started)
	eventStop,         // a request to stop: SIGTERM, SIGINT, the service manager
	eventReport,       // SIGHUP: say how things stand
	eventProcessGone,  // the process watched with --pid has ended
	eventAnswer,       // the library's answer to the call asked for
	eventFiguresWritten, // the metrics file: `answer` 0 written, else not, and `why`
	eventReload,       // SIGHUP: a configuration read again and checked whole waits to be applied
	eventReloadRefused, // SIGHUP: one that does not check out, `why`; the one in use stays
	eventConfigApplied, // the configuration waiting is the setting's now; `why`: what became of the parts
	eventRelease,      // the operator forgave the resets counted so far (the setting says none now)
};

// How a round of checks ended, in the loop's words: the check program
// alone, or, with probes, the first part that failed.
struct CheckEnd {
	bool passed;            // exited with status 0; every probe passed
	const char *how;        // "exit status 3", "killed by signal 9 (Killed)", "status 503", or why it could not start
	const char *firstLine;  // the first line it printed; "" for none
	bool timedOut;          // the part that failed ran out of time
	const char *what;       // the part that failed ("http://...", "tcp db:5432"); null or "": the program alone
	int64_t timeoutNs = 0;  // the time the part that ran out of it had, when its own; 0: watch's
	// The check program could not be started at all (not found, not
	// executable, busy being replaced): `how` says why. Not a verdict on
	// the application, and not counted.
	bool unstarted = false;
};

struct Event {
	EventKind kind;
	int32_t answer;         // eventAnswer: a result code, or isEnabled's byte
	CheckEnd check;         // eventCheckEnded
	const char *why;        // eventFiguresWritten, not written: the system's words
	// While a check runs past its timeout: how long its processes have
	// waited for a processor in all, which its timeout does not count.
	int64_t checkWaitedNs = 0;
};

enum ActionKind {
	actSay,            // a line: `priority`, `text`
	actNotify,         // to the service manager: `text` (READY=1, STOPPING=1, WATCHDOG=1)
	// The library: one call at a time, answered with an eventAnswer
	// whenever it returns; other events may come meanwhile.
	actAskEnabled,
	actEnable,
	actDisable,
	actHeartbeat,
	actPostOk,
	actPostNeedReset,
	// The check: starting one is answered by its eventCheckEnded, whenever.
	actStartCheck,
	actAskCheckToEnd,  // its whole group, politely (SIGTERM)
	actEndCheck,       // its whole group, at once (SIGKILL)
	// The metrics file: written whole now (answered by eventFiguresWritten),
	// or removed, so that a watcher stopped in order leaves none behind.
	actWriteFigures,
	actRemoveFigures,
	// The configuration waiting, made the setting's between two rounds;
	// answered by eventConfigApplied.
	actApplyConfig,
	// The reset record, on disk before what it says can happen: heartbeats
	// about to stop, or appStateNeedReset about to be posted (`text` why,
	// `status` 1 for the post); taken back once heartbeats start again or
	// monitoring is off.
	actKeepRecord,
	actTakeBackRecord,
	// The hold, on disk so that it outlives a restart and a reboot: begun
	// (`text` its line, said as one of its own kind), or ended.
	actHold,
	actEndHold,
	actExit,           // end with `status`; `fromLibrary`: a result code, to be made an exit status
};

struct Action {
	ActionKind kind;
	Priority priority;
	int status;
	bool fromLibrary;
	char text[1024];
};

enum : size_t { maxActions = 12 };
enum : int { maxCountedResets = 100 };

struct Step {
	Action actions[maxActions];
	size_t count;
	int64_t deadline;      // the next time to be woken with eventTime
};

// What the loop tells the core once, at the start, beyond the options.
struct WatchSetting {
	WatchOptions options;
	int64_t watchdogNs;    // the service manager's watchdog period; 0: none
	bool recordStands;     // a reset record an earlier watcher of this boot kept stands
	// The platform's resets that count toward --max-resets: when each
	// leaves its period, on the boot clock; and as a line names them.
	int64_t resetLeaves[maxCountedResets];
	int resetCount;
	char resetsSaid[600];
	bool heldAtStart;      // a hold from before this start stands
};

// The core's whole state, by concern. Zero it, set `setting`, then feed it
// eventStart.
struct WatchCore {
	WatchSetting setting;
	WatchState state;
	WatchState beforePause;
	int64_t stateSince;      // when `state` began
	struct {                 // the checks' verdicts in a row, and the last one
		int passes;
		int failures;
		int64_t lastAt;
		char last[330];
	} record;
	struct {                 // when things are due, on the boot clock
		int64_t origin;      // the ticks' origin
		int64_t nextTick;
		int64_t watchdogAt;
		int64_t startDeadline;
		int64_t lastNow;     // the time of the last event
		int64_t lastAsleep;  // the machine's time suspended, as of then
		int64_t deadline;    // the deadline last asked for
	} schedule;
	struct {                 // the check (the round) running now
		bool running;
		bool timedOut;       // asked to end for its timeout
		bool overran;        // a start was skipped while it ran
		bool waited;         // its timeout was put off for the time it waited for a processor
		int64_t startedAt;
		int64_t deadline;    // its timeout, or, asked to end, when it is ended
	} check;
	struct {                 // the platform, as this watcher has seen it
		int asked;           // what the call awaiting its answer asks; -1: none
		ActionKind call;     // the call asked last
		int64_t askedAt;
		int announce;        // what a heartbeat that is taken will say
		bool heartbeatNext;  // a heartbeat, once the post asked for is answered
		const char *refusedCall;  // the call refused as "not enabled"
		bool switchedOn;     // this watcher switched monitoring on
		bool onFromOff;      // monitoring is on since this watcher saw it off
		bool beatSinceOn;    // a heartbeat was taken since it was last seen on
		bool resetMayStand;  // appStateNeedReset may stand, ours or an earlier watcher's
		bool resetPosted;    // this watcher's appStateNeedReset stands
		bool recordKept;     // the reset record stands
		int64_t lastHeartbeatAt;
	} platform;
	struct {                 // the stop
		int requests;        // 1: in order; 2: at once; 3: not waiting for the library
		int64_t deadline;    // when a check that has not ended is ended
		bool ended;
	} stop;
	struct {                 // the metrics file
		bool due;            // something it shows has changed
		bool failing;        // the last write failed
		int64_t writtenAt;
	} figures;
	struct {                 // --max-resets
		bool off;            // monitoring is off for the hold
		bool rearmDue;       // to be switched on again at the next tick
		int said;            // how the checks were last said while held: 1 passing, 2 failing
	} hold;
	struct {                 // the check program, while it cannot be started
		int64_t since;       // the first start in a row that failed; none: the last one worked
		bool loud;           // said as an error: for longer than the window
		char why[320];
	} unstarted;
	struct {                 // a configuration read again
		bool waiting;        // checked, and to be applied once no round runs
		int64_t intervalNs;  // the interval before it was applied
	} reload;
	struct {                 // lines said once until what they say changes
		bool notHealthyYet;
		bool heartbeatsRefused;
		bool refusedWhileOn;
		bool postRefused;
		bool stillRunning;
		bool libraryLate;
		bool waitedForProcessor;
	} said;
};

// An action's name, as lines name the library's calls: "markActive".
const char *actionName(ActionKind kind);

// One event at `now` (nanoseconds on a clock that counts suspended time);
// `asleep` is how much of that clock the machine has spent suspended
// since it started, which tells a suspended machine from a late wake.
Step watchStep(WatchCore *core, const Event &event, int64_t now, int64_t asleep = 0);

// The state and its counts in one line, as STATUS= and the status file
// carry it: "failing: 2 of 3; http://db/health: status 503".
void statusSummary(const WatchCore &core, char *text, size_t size);
// Whether the check program could not be started for longer than the
// platform's window: nothing is being checked, which the figures show.
bool uncheckedTooLong(const WatchCore &core);
// The state's name: "healthy".
const char *stateName(WatchState state);
