// watch's policy, as a pure function of events and time: it is told what
// happened (a deadline came, a check ended, a stop was asked for, the
// library answered) with the time as a plain value, and answers with what
// to do and the one next deadline. It reads no clock and calls neither the
// library nor the system: the loop (watch.cpp) does all of that, and
// decides nothing.
#pragma once

#include "watch_options.h"

#include <cstddef>
#include <cstdint>

// The priorities of the journal; -s hides priorityInfo.
enum Priority { priorityError = 3, priorityWarning = 4, priorityNotice = 5, priorityInfo = 6 };

enum WatchState { stateStarting, stateHealthy, stateFailing, statePaused };

enum EventKind {
	eventStart,        // the watcher begins; nothing asked of the platform yet
	eventTime,         // time has passed: whatever deadline came is due
	eventCheckEnded,   // the running check ended (or could not be started)
	eventStop,         // an orderly stop: SIGTERM, SIGINT, the service manager
	eventReport,       // SIGHUP: say how things stand
	eventProcessGone,  // the process watched with --pid has ended
	eventAnswer,       // the library's answer to the call last asked for
};

// How a round of checks ended, in the loop's words: the check program
// alone, or, with probes, the first part that failed.
struct CheckEnd {
	bool passed;            // exited with status 0; every probe passed
	const char *how;        // "exit status 3", "killed by signal 9 (Killed)", "status 503", or why it could not start
	const char *firstLine;  // the first line it printed; "" for none
	bool timedOut;          // the part that failed ran out of time
	const char *what;       // the part that failed ("http://...", "tcp db:5432"); null or "": the program alone
};

struct Event {
	EventKind kind;
	CheckEnd check;         // eventCheckEnded
	int32_t answer;         // eventAnswer: a result code, or isEnabled's byte
};

enum ActionKind {
	actSay,            // a line: `priority`, `text`
	actNotify,         // to the service manager: `text` (READY=1, STOPPING=1, WATCHDOG=1)
	// The library: each is answered with an eventAnswer before anything else.
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
	actExit,           // end with `status`; `fromLibrary`: a result code, to be made an exit status
};

struct Action {
	ActionKind kind;
	Priority priority;
	int status;
	bool fromLibrary;
	char text[512];
};

enum : size_t { maxActions = 8 };

struct Step {
	Action actions[maxActions];
	size_t count;
	int64_t deadline;      // the next time to be woken with eventTime
};

// What the loop tells the core once, at the start, beyond the options.
struct WatchSetting {
	WatchOptions options;
	int64_t watchdogNs;    // the service manager's watchdog period; 0: none
};

// The core's whole state. Zero it, set `setting`, then feed it eventStart.
struct WatchCore {
	WatchSetting setting;
	WatchState state;
	WatchState beforePause;
	int passes;              // in a row
	int failures;            // in a row
	bool resetStanding;      // appStateNeedReset may stand on the platform
	bool heartbeatsRefused;  // a run of refused heartbeats, said once
	bool inconsistencySaid;  // a call refused as "not enabled" while isEnabled says on
	const char *refusedCall; // which call was refused so
	bool startFailureSaid;   // why it is not healthy yet, said once
	bool postFailureSaid;
	bool switchedOn;         // this run switched monitoring on
	bool heartbeatNext;      // a heartbeat, once the post asked for is answered
	int asked;               // the action awaiting its answer; -1: none
	int announce;            // what a heartbeat that is accepted will say
	int64_t start;           // the schedule's origin
	int64_t nextTick;
	int64_t watchdogAt;
	int64_t startDeadline;
	bool checkRunning;
	bool timedOut;           // the running check was asked to end
	int64_t checkDeadline;   // when it times out, or, timed out, when it is ended
	bool overrunSaid;
	bool overran;
	bool stopping;
	int64_t stopDeadline;    // stopping: when a check that has not ended is ended
	int stopStatus;
	bool ended;
	int64_t lastNow;         // the time of the last event
	int64_t deadline;        // the deadline last asked for
	int64_t lastCheckAt;
	int64_t lastHeartbeatAt;
	char lastCheck[330];     // what the last check came to
};

// One event at `now` (nanoseconds on a clock that counts suspended time).
Step watchStep(WatchCore *core, const Event &event, int64_t now);
