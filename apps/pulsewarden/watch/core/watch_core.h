// watch's policy, as a pure function of events and time: it is told what
// happened (a deadline came, a check ended, a stop was asked for, the
// library answered, a file was written, files were read again) with the
// time as plain values, and answers with what to do and the one next
// deadline. It reads no clock and calls neither the library nor the
// system; it decides every "when", and keeps what the files it has
// written show (WatchView). The loop (watch.cpp) carries out its actions
// and reads nothing of it but that view.
#pragma once

#include "metrics.h"
#include "status_file.h"
#include "watch_options.h"
#include "watch_state.h"

#include <cstddef>
#include <cstdint>

enum EventKind {
	eventStart,        // the watcher begins; nothing asked of the platform yet
	eventTime,         // time has passed: whatever deadline came is due; the last event of each wake
	eventCheckEnded,   // the running check ended (or could not be started)
	eventStop,         // a request to stop: SIGTERM, SIGINT, the service manager
	eventReport,       // SIGUSR1: say how things stand
	eventProcessGone,  // the process watched with --pid has ended
	eventAnswer,       // the library's answer to the call asked for
	eventWritten,      // a file written whole: `answer` which (FileKind), `why` null or why not, `path`
	eventReloadAsked,  // SIGHUP: the configuration to be read again
	eventConfigRead,   // the files read into slot `answer`: `options` as read, or `why` they do not check out
	eventRelease,      // the operator forgave the resets counted so far: `resets` counts them now
	eventResetsCounted, // the resets that count toward --max-resets, as asked by actCountResets: `resets`
	eventCheckGone,    // nothing is left of the check let be (actLetCheckBe)
};

// The files written whole, each said once when it fails and once when it
// is written again.
enum FileKind { fileMetrics, fileStatus, fileRecord };

// One part of a round that ended: a probe, or the check program (the
// last). Counted for the figures and kept for the status.
struct PartOutcome {
	bool passed;
	bool timedOut;
	bool unchecked;         // nothing checked, for the watcher's own fault: no run of the application's
	int64_t durationNs;
	const char *line;       // how it failed, or the first line it printed
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
	// Nothing could be checked, for the watcher's own fault: the check
	// program could not be started at all (not found, not executable, busy
	// being replaced), or a probe's own input failed it (`what` names the
	// probe: its headers or CA file unreadable, opened to others); `how`
	// says why. Not a verdict on the application, and not counted.
	bool unstarted = false;
	// Its processes did not end when killed (held by the kernel: a file
	// system that does not answer): a timeout, after actLetCheckBe.
	bool stuck = false;
	const PartOutcome *parts = nullptr;  // each part's run, in the order of the options; null: none told
};

enum : int { maxCountedResets = 100 };

// The platform's resets that count toward --max-resets, as the state
// directory's record has them, worked out by the loop (it knows the
// clocks and the local time).
struct ResetsCounted {
	int64_t leaves[maxCountedResets];  // when each leaves its period, on the boot clock
	int count;
	char said[600];        // as a line names them
	bool heldAtStart;      // a hold from before this start stands
	long long total;       // resets concluded, in every boot
	double lastS;          // Unix time of the last; 0: none
	int shownCount;        // the last ones, for the status, newest last
	struct {
		double atS;
		char why[210];
	} shown[resetsShown];
};

struct Event {
	EventKind kind;
	int32_t answer;         // eventAnswer: a result code, or isEnabled's byte; eventWritten: the file; a slot
	CheckEnd check;         // eventCheckEnded
	const char *why;        // eventWritten, eventConfigRead: why not
	// While a check runs past its timeout: how long its processes have
	// waited for a processor in all, which its timeout does not count.
	int64_t checkWaitedNs = 0;
	const char *path = nullptr;             // eventWritten: the file
	const WatchOptions *options = nullptr;  // eventConfigRead: kept in its slot until the slot is let go
	const ResetsCounted *resets = nullptr;  // eventRelease, eventResetsCounted
};

enum ActionKind {
	actSay,            // a line: `priority`, `text`
	actNotify,         // to the service manager: `text` (READY=1, STOPPING=1, WATCHDOG=1, RELOADING=1, STATUS=)
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
	// Its group killed and still there (the kernel holds it): the round is
	// over without it (an eventCheckEnded at once), and what is left of
	// it is kept in sight until it has gone (eventCheckGone).
	actLetCheckBe,
	// The files written whole from the view, each answered by its
	// eventWritten; the metrics file removed (`text` its path), so that a
	// watcher stopped in order, or told to write another, leaves none behind.
	actWriteFigures,
	actRemoveFigures,
	actWriteStatus,
	// The configuration: files read into slot `status` (answered by
	// eventConfigRead), a slot applied between two rounds (the one in use
	// before it `slotBefore`: the core's options are the slot's from the
	// step on) or let go with its check's user; how a reload
	// went, for whoever waits in watch --reload (`text`); the one in use
	// kept in the runtime directory; the resets counted again by its
	// period (answered by eventResetsCounted).
	actReadConfig,
	actApplyConfig,
	actReleaseConfig,
	actAnswerReload,
	actKeepConfig,
	actCountResets,
	// The reset record: kept as heartbeats stop, or before appStateNeedReset
	// is posted, which waits for it to be written (`text` why, `status` 1
	// for the post; the last heartbeat, or the post, in `unixS` and on the
	// boot clock in `bootNs`; now in `seenS` and `seenNs`); the watcher seen
	// still running (`seenS`, `seenNs`) once that proves the boot outlived
	// the window; taken back once a heartbeat has gone out after it, or
	// monitoring is off. Written when it changes, never at each tick.
	actKeepRecord,
	actRecordSeen,
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
	int slotBefore;
	double unixS;
	int64_t bootNs;
	double seenS;
	int64_t seenNs;
	char text[1024];
};

enum : size_t { maxActions = 16 };
enum : int { configSlots = 3, noSlot = -1 };

struct Step {
	Action actions[maxActions];
	size_t count;
	int64_t deadline;      // the next time to be woken with eventTime
	// The status kept fresh while no tick wakes the watcher (the library
	// awaited): woken with eventTime by then too, so that an old status
	// means a watcher that does not run.
	int64_t statusDeadline;
};

// What the loop tells the core once, at the start, beyond the options.
struct WatchSetting {
	WatchOptions options;
	int64_t watchdogNs;    // the service manager's watchdog period; 0: none
	bool recordStands;     // a reset record an earlier watcher of this boot kept stands
	bool recordPosted;     // kept for a post of appStateNeedReset
	int64_t recordStoppedAt; // its last heartbeat, on the boot clock; 0: not known
	char recordUnkept[1500]; // why no reset record can be kept at all; "": it can
	long pid;              // the watcher's own process, for the status
	char processStart[32]; // when it started, as the system tells it: a later process given its id is not it
	ResetsCounted resets;
};

// What the files and lines the loop writes show, built by the core: the
// status file (pulsewarden status), the metrics file, STATUS=.
struct WatchView {
	const WatchOptions *options;  // in use, from eventStart on
	// When a check's timeout is judged next, and the time its processes
	// waited for a processor is wanted (Event.checkWaitedNs); kept at each step.
	int64_t judgesTimeoutAt;
	WatchState state;
	WatchStatus status;
	WatchFigures figures;
};

// The core's whole state, by concern. Zero it, set `setting`, then feed it
// eventStart.
struct WatchCore {
	WatchSetting setting;
	WatchState state;
	WatchState beforePause;
	int64_t stateSince;      // when `state` began
	double unixS;            // the wall clock at the last event, for what the files show
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
		bool killed;         // ended at once (SIGKILL) for its timeout: let be if it is still there by its deadline
		int64_t stuckSince;  // a check let be is still there, since then; none: none is
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
		int64_t lastHeartbeatAt;
	} platform;
	struct {                 // the reset record
		bool stands;         // kept, and not taken back
		bool posted;         // kept for a post of appStateNeedReset
		int64_t at;          // when it was kept
		int64_t seenDue;     // when the watcher is to be seen running; never: it needs not be
		char why[400];
		int post;            // appStateNeedReset: 1 waiting for the record, 2 due
		int64_t postBy;      // posted by then, whether the record is written or not
	} kept;
	struct {                 // the stop
		int requests;        // 1: in order; 2: at once; 3: not waiting for the library
		int64_t deadline;    // when a check that has not ended is ended
		bool ended;
		int64_t endedAt;
		bool off;            // monitoring was off as it ended (switched off, or found so)
		char how[512];       // how it ended, as its last status says it
	} stop;
	struct {                 // the files written whole
		bool figuresDue;     // something the metrics file shows has changed
		int64_t figuresAt;
		bool statusDue;      // something the status file shows may have changed
		int64_t statusAt;
		int64_t statusIntervalNs;  // the interval the status shows: a reader judges its age by it
		bool lineSince;      // a line was told as STATUS= since the summary was
		char told[512];      // STATUS= as the summary last told it
		char shown[512];     // the summary as the status file last showed it
		bool failing[fileRecord + 1];  // each one's last write failed (said once)
		// Each one's trouble, said as an error once it lasts longer than the
		// window: a write that failed, or one asked for and not answered (a
		// file system that does not answer); none: none.
		int64_t failingSince[fileRecord + 1];
		int64_t unansweredSince[fileRecord + 1];
		bool loud[fileRecord + 1];
		char path[fileRecord + 1][300];
		char why[fileRecord + 1][300];
	} files;
	struct {                 // --max-resets
		bool off;            // monitoring is off for the hold
		bool rearmDue;       // to be switched on again at the next tick
		int said;            // how the checks were last said while held: 1 passing, 2 failing
	} hold;
	struct {                 // while nothing can be checked, for the watcher's own fault
		int64_t since;       // the first round in a row that could not; none: the last one could
		bool loud;           // said as an error: for longer than the window
		bool overLimit;      // for longer than --unchecked-limit: each round a failure
		char what[300];      // the probe that could not be checked; "": the check program could not start
		char why[600];
	} unstarted;
	struct {                 // the configuration's slots (the loop's storage)
		int inUse;
		int waiting;         // read and checked, to be applied once no round runs; noSlot: none
		int reading;         // being read; noSlot: none
		bool again;          // asked again while being read
		const WatchOptions *waitingOptions;  // the one waiting's, in its slot
		bool waitingSaid;    // the one waiting's line is said: not again once applied
		// The paths only a start decides, as it began: the core's own, as
		// the slot the start read is let go and read into again.
		char started[2][4096];
	} reload;
	struct {                 // lines said once until what they say changes
		bool notHealthyYet;
		bool heartbeatsRefused;
		bool refusedWhileOn;
		bool postRefused;
		bool stillRunning;
		bool libraryLate;
		bool waitedForProcessor;
		bool heldSwitchedOn;
	} said;
	WatchView view;          // each part's results and figures, kept as they come
};

// An action's name, as lines name the library's calls: "markActive".
const char *actionName(ActionKind kind);

// One event at `now` (nanoseconds on a clock that counts suspended time);
// `asleep` is how much of that clock the machine has spent suspended
// since it started, which tells a suspended machine from a late wake;
// `unixS` the wall clock, for the times the files show.
Step watchStep(WatchCore *core, const Event &event, int64_t now, int64_t asleep = 0, double unixS = 0);

// What the files show now, for the loop to write.
const WatchView &watchView(WatchCore *core);

// The state and its counts in one line, as STATUS= and the status file
// carry it: "failing: 2 of 3; http://db/health: status 503".
void statusSummary(const WatchCore &core, char *text, size_t size);
