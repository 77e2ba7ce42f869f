// watch's loop: it owns the clock, the waiting, the library and the system,
// and carries out what the core (core/watch_core.h) decides, one event at
// a time: it turns what happened into events, and actions into calls. It
// decides nothing, and reads nothing of the core but the view it builds
// for the files and lines written here. Each change of state is one line
// on stderr; stdout is not written. The platform's library is called on
// the loop's own thread at the end of a wake, its answer heard with no
// wake of its own; a standby thread takes the loop over from a call that
// hangs, so that it holds up neither a stop nor the watchdog.
#include "watch.h"

#include "config.h"
#include "requests.h"

#include "console.h"
#include "core/metrics.h"
#include "core/status_file.h"
#include "core/text.h"
#include "core/watch_core.h"
#include "core/watch_options.h"
#include "exit_status.h"
#include "files.h"
#include "platform.h"
#include "probes/probe.h"
#include "probes/round.h"
#include "publisher.h"
#include "reset_keeper.h"
#include "system.h"
#include "system/check_user.h"
#include "system/events.h"
#include "system/runtime_dir.h"
#include "system/service_manager.h"
#include "threads.h"

#include <corvane-pulsewarden.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The call into the platform's library the core asked for.
struct LibraryCall {
	Standby *standby;
	ActionKind kind;
	bool due;                   // asked, to be made at the wake's end
	int32_t answer;
	std::atomic<bool> busy;     // made, and not yet taken back with its answer
	std::atomic<bool> answered;
	// The loop's owner is in the call: whichever clears it first, the
	// owner back from it or the standby woken for it, has the loop.
	std::atomic<bool> inCall;
};

// A call that has not answered by then leaves the loop to the standby:
// long enough for any call that does not hang, short against a tick.
static const long long takeOverAfterNs = 100LL * 1000 * 1000;

// The configuration read again, on a thread of its own.
struct ConfigReader {
	Worker *worker;           // started at the first reload
	int slot;
	bool read;                // the files could be read (why: what they say is wrong, or null)
	char why[800];
	std::atomic<bool> busy;   // asked, and its answer not yet heard by the core
	std::atomic<bool> done;
};

struct Loop {
	WatchCore core;
	bool journal;
	Round round;              // the probes and the check program of a tick
	WatchedProcess *process;
	LibraryCall call;
	int64_t deadline;
	bool ended;
	int status;
	ResetKeeper keeper;       // the state directory's reset record
	Publisher *publisher;     // the metrics, the status and the record, written off this thread
	// The configuration: the command line as given, and the files read
	// onto it, in the slots the core names, each with its check's user.
	WatchOptions line;
	bool lineSilent;          // -s, before the word watch or after it
	WatchConfig configs[configSlots];
	CheckUser *users[configSlots];
	ConfigReader reader;
	bool silent[configSlots]; // the files' silent, or the command line's
	unsigned reloadsAnswered;
	bool releaseAnswerDue;    // a release taken, its record still being written
	char runtimeDir[1024];
	char statusPath[1100];
};

static void sayLine(const Loop *l, Priority priority, const char *format, ...) PRINTF_LIKE(3, 4);

// One line on stderr, with the time (or, into the journal, its priority);
// the service manager gets it as the status. -s hides healthy progress.
// Whatever it quotes, it stays one line of UTF-8: a name's line feed
// would split it, and in the status would be a message to the service
// manager.
static void sayLine(const Loop *l, Priority priority, const char *format, ...)
{
	char message[1024];
	va_list ap;
	va_start(ap, format);
	vsnprintf(message, sizeof message, format, ap);
	va_end(ap);
	// And UTF-8, as the status shows it: a journal and a terminal show
	// what the status file does.
	makePrintable(message);
	char status[sizeof message + 8];
	snprintf(status, sizeof status, "STATUS=%s", message);
	notifyServiceManager(status);
	if (silentMode && priority == priorityInfo)
		return;
	if (logToServiceManager(priority, message))
		return;
	if (l->journal) {
		printTo(stderr, "<%d>watch: %s\n", priority, message);
	} else {
		char now[32];
		localTimeText(now, sizeof now, false);
		printTo(stderr, "%s watch: %s\n", now, message);
	}
}

static int32_t askLibrary(ActionKind kind)
{
	switch (kind) {
	case actAskEnabled:
		return Tendwell_IsEnabled();
	case actEnable:
		return Tendwell_Enable();
	case actDisable:
		return Tendwell_Disable();
	case actHeartbeat:
		return Tendwell_MarkActive();
	case actPostOk:
		return Tendwell_PostAppState(TENDWELL_APP_STATE_OK);
	case actPostNeedReset:
		return Tendwell_PostAppState(TENDWELL_APP_STATE_NEED_RESET);
	default:
		return 0;
	}
}

// The answer of a call the standby took the loop over from, once there
// is one.
static bool libraryAnswered(Loop *l, Event *event)
{
	LibraryCall &call = l->call;
	if (!call.busy.load() || !call.answered.load())
		return false;
	call.busy.store(false);
	*event = Event{};
	event->kind = eventAnswer;
	event->answer = call.answer;
	return true;
}

static const WatchOptions &inUse(const Loop *l)
{
	return *l->core.view.options;
}

// A round that is over, with each part's run for the core to count.
static bool roundOver(Loop *l, CheckEnd *end)
{
	if (!l->round.running)
		return false;
	const WatchOptions &o = inUse(l);
	if (!roundEnded(&l->round, o, end))
		return false;
	static PartOutcome parts[maxProbes + 1];
	static char lines[maxProbes + 1][320];
	int count = o.probeCount + (o.check ? 1 : 0);
	for (int i = 0; i < count; i++) {
		PartRun run = partRun(l->round, o, i, lines[i], sizeof lines[i]);
		parts[i] = {run.passed, run.timedOut, run.unchecked, run.durationNs, lines[i]};
	}
	end->parts = parts;
	return true;
}

// A line of the keeper's: those of their own kind where the journal or
// the event log can tell them apart, else as any other.
static void sayKept(void *context, Priority priority, int kind, const char *line)
{
	if (kind < 0 || !logMessage(static_cast<MessageKind>(kind), priority, line))
		sayLine(static_cast<const Loop *>(context), priority, "%s", line);
}

// How a file written whole went, for the core to say.
static bool written(Event *next, FileKind file, bool ok, const char *path, const char *why)
{
	next->kind = eventWritten;
	next->answer = file;
	next->path = path;
	next->why = ok ? nullptr : why;
	return true;
}

// A change to the record: its outcome now, or from the publisher.
static bool recordWritten(Loop *l, KeeperWrite write, Event *next)
{
	return (write == keptWritten || write == keptFailed)
		&& written(next, fileRecord, write == keptWritten, l->keeper.path, l->keeper.why);
}

// The metrics file, whole, where the options say; its outcome comes
// from the publisher.
static bool writeFigures(Loop *l, Event *next)
{
	const WatchView &v = watchView(&l->core);
	static char text[1 << 18];
	if (!formatMetrics(*v.options, v.state, v.figures, unixTimeS(), PULSEWARDEN_VERSION, text, sizeof text))
		return written(next, fileMetrics, false, v.options->metricsFile, "more figures than the file can hold");
	publish(l->publisher, fileMetrics, v.options->metricsFile, text, strlen(text));
	return false;
}

// The status file, where pulsewarden status reads it; its outcome at once
// where it is written on this thread.
static bool writeStatus(Loop *l, Event *next)
{
	const WatchView &v = watchView(&l->core);
	static char text[1 << 20];
	if (!formatStatusFile(v.status, text, sizeof text))
		return written(next, fileStatus, false, l->statusPath, "more than the file can hold");
	publish(l->publisher, fileStatus, l->statusPath, text, strlen(text));
	return publishedOf(l->publisher, fileStatus, next);
}

// Tells whoever waits in watch --reload how the reload went: a file in the
// runtime directory, replaced whole, with a count that changes each time.
static void answerReload(Loop *l, const char *how)
{
	char path[1100];
	char text[1100];
	snprintf(path, sizeof path, "%s/reload", l->runtimeDir);
	int n = snprintf(text, sizeof text, "%u %s\n", ++l->reloadsAnswered, how);
	char why[200];
	replaceFile(path, text, static_cast<size_t>(n < static_cast<int>(sizeof text) ? n : sizeof text - 1), why,
		sizeof why);
}

// The configuration in use, as --print gives it, in the runtime
// directory: what the watcher runs now, whatever the files say since.
// Its owner's alone: a check's arguments may hold what --print cannot
// tell is a secret.
static void keepConfigInUse(Loop *l, const WatchOptions &o)
{
	static char text[1 << 18];
	char why[300];
	char path[1100];
	snprintf(path, sizeof path, "%s/config.toml", l->runtimeDir);
	if (printConfig(o, silentMode, text, sizeof text, why, sizeof why))
		replacePrivateFile(path, text, strlen(text), why, sizeof why);
	else
		removeFile(path);
}

// A fault of a configuration file: a line of its own when checking; at
// the start said as any other; at a reload kept, the first of them, for
// the line that says it was refused.
struct Faults {
	const Loop *loop;
	enum { printed, said, kept } how;
	int count;
	bool refused;            // a file not to be trusted, or not read
	char first[700];
};

static void fault(const char *line, bool refused, void *context)
{
	auto *f = static_cast<Faults *>(context);
	f->refused = f->refused || refused;
	if (f->how == Faults::printed)
		printTo(stderr, "%s\n", line);
	else if (f->how == Faults::said)
		sayLine(f->loop, priorityError, "%s", line);
	else if (f->count == 0)
		snprintf(f->first, sizeof f->first, "%s", line);
	f->count++;
}

// --check-config: everything a start would check, and nothing asked of
// the platform; with --print, the configuration in effect.
static int checkConfigAsked(const WatchOptions &o, bool silent)
{
	char why[600];
	if (!watchedPartsUsable(o, nullptr, why, sizeof why)) {
		printTo(stderr, "%s\n", why);
		return exitCheckUnusable;
	}
	if (!o.print)
		return 0;
	// A configuration that checks out but cannot be printed is no fault of
	// the command line's.
	static char text[1 << 18];
	if (!printConfig(o, silent, text, sizeof text, why, sizeof why)) {
		printTo(stderr, "%s\n", why);
		return 1;
	}
	printOut("%s", text);
	return 0;
}

static void unsaid(const char * /*line*/, bool /*refused*/, void * /*context*/) {}

// --check-config --condition, a service's start condition: 1 when the
// files, read whole, name no part to watch, which is no failure (the one
// line says why it did not start); 0 when they do, and when they cannot
// be read whole, for the start to say why.
static int conditionAsked(const WatchOptions &line)
{
	static WatchConfig files;
	startConfig(&files);
	WatchOptions &o = files.options;
	if ((line.config && !loadConfig(line.config, &files, unsaid, nullptr)) || !layOver(&o, line))
		return 0;
	if (o.pid || o.check || o.probeCount)
		return 0;
	if (line.config)
		printTo(stderr, "watch: not started: nothing to watch yet: %s and its watch.d/*.toml name no check and no probe\n",
			line.config);
	else
		printTo(stderr, "watch: not started: nothing to watch yet: no check and no probe named\n");
	return 1;
}

// The files read again into the reader's slot and checked whole, as a
// start would, with the check's user they name, on the reader's thread: a
// file system that does not answer holds up the reading, never a
// heartbeat. The slot is the reader's alone until the core hears of it.
static void readFiles(void *argument)
{
	Loop *l = static_cast<Loop *>(argument);
	ConfigReader &r = l->reader;
	int slot = r.slot;
	WatchConfig *candidate = &l->configs[slot];
	Faults faults = {l, Faults::kept, 0, false, ""};
	r.why[0] = '\0';
	l->silent[slot] = l->lineSilent;
	r.read = gatherConfiguration(l->line, candidate, &l->silent[slot], fault, &faults);
	if (!r.read)
		snprintf(r.why, sizeof r.why, "%s%s", faults.first, faults.count > 1 ? " (and more: --check-config says all)" : "");
	else if (!watchedPartsUsable(candidate->options, &l->users[slot], r.why, sizeof r.why))
		l->users[slot] = nullptr;
	r.done.store(true);
	wakeWatcher();
}

static void askToReadFiles(Loop *l, int slot)
{
	ConfigReader &r = l->reader;
	r.slot = slot;
	r.done.store(false);
	r.busy.store(true);
	char why[200];
	if (!r.worker && !(r.worker = startWorker(readFiles, l, why, sizeof why))) {
		snprintf(r.why, sizeof r.why, "cannot read the files: %s", why);
		r.read = false;
		r.done.store(true);
		return;
	}
	askWorker(r.worker);
}

// What the files read came to, once the reader is done.
static bool filesRead(Loop *l, Event *event)
{
	ConfigReader &r = l->reader;
	if (!r.busy.load() || !r.done.load())
		return false;
	r.busy.store(false);
	*event = Event{};
	event->kind = eventConfigRead;
	event->answer = r.slot;
	event->options = r.read ? &l->configs[r.slot].options : nullptr;
	event->why = r.why[0] ? r.why : nullptr;
	return true;
}

// The slot the core has applied: each part keeps its thread where it is
// the part it was, and the check runs as the files' user.
static void applyConfig(Loop *l, int slot, int before)
{
	const WatchOptions &was = l->configs[before].options;
	const WatchOptions &after = l->configs[slot].options;
	int from[maxProbes + 1];
	matchParts(was, after, from);
	regroupRound(&l->round, was, after, from);
	l->round.user = l->users[slot];
	silentMode = l->silent[slot];
}

static bool countResets(Loop *l, Event *next)
{
	static ResetsCounted counted;
	resetsToCount(&l->keeper, inUse(l), &counted);
	next->kind = eventResetsCounted;
	next->resets = &counted;
	return true;
}

// Carries out one action; an event that follows from it at once (a check
// that could not start, a file written, files read) goes in `next`.
static bool perform(Loop *l, const Action &a, Event *next)
{
	*next = Event{};
	const WatchOptions &o = inUse(l);
	switch (a.kind) {
	case actSay:
		sayLine(l, a.priority, "%s", a.text);
		return false;
	case actNotify:
		if (strcmp(a.text, "RELOADING=1") == 0)
			notifyReloading();
		else
			notifyServiceManager(a.text);
		return false;
	case actAskEnabled:
	case actEnable:
	case actDisable:
	case actHeartbeat:
	case actPostOk:
	case actPostNeedReset:
		// The core asks one call at a time, and only once the last is
		// answered; it is made once nothing else of the wake is left.
		l->call.kind = a.kind;
		l->call.due = true;
		return false;
	case actStartCheck:
		// A round that is over at once (a program that could not start)
		// is heard of at once.
		startRound(&l->round, o);
		next->kind = eventCheckEnded;
		return roundOver(l, &next->check);
	case actAskCheckToEnd:
		// Probes are not waited for: a round of probes alone is over now.
		askRoundToEnd(&l->round, o);
		next->kind = eventCheckEnded;
		return roundOver(l, &next->check);
	case actEndCheck:
		endRound(&l->round);
		return false;
	case actLetCheckBe:
		letProgramBe(&l->round);
		next->kind = eventCheckEnded;
		return roundOver(l, &next->check);
	case actWriteFigures:
		return writeFigures(l, next);
	case actRemoveFigures:
		unpublish(l->publisher, fileMetrics, a.text);
		return false;
	case actWriteStatus:
		return writeStatus(l, next);
	case actReadConfig:
		askToReadFiles(l, a.status);
		return filesRead(l, next);
	case actApplyConfig:
		applyConfig(l, a.status, a.slotBefore);
		return false;
	case actReleaseConfig:
		releaseCheckUser(l->users[a.status]);
		l->users[a.status] = nullptr;
		return false;
	case actAnswerReload:
		answerReload(l, a.text);
		return false;
	case actKeepConfig:
		keepConfigInUse(l, o);
		return false;
	case actCountResets:
		return countResets(l, next);
	case actKeepRecord:
		return recordWritten(l, keepResetRecord(&l->keeper, a, o.windowNs, o.intervalNs), next);
	case actRecordSeen:
		return recordWritten(l, recordSeen(&l->keeper, a), next);
	case actTakeBackRecord:
		return recordWritten(l, takeBackResetRecord(&l->keeper), next);
	case actHold:
		sayKept(l, priorityError, messageHeld, a.text);
		return recordWritten(l, keepHeld(&l->keeper, true), next);
	case actEndHold:
		return recordWritten(l, keepHeld(&l->keeper, false), next);
	case actExit:
		l->ended = true;
		l->status = a.fromLibrary ? exitStatusForResult(a.status) : a.status;
		return false;
	}
	return false;
}

// Feeds an event to the core, and each that follows from it at once, in
// order (a step may start a round that is over at once and write the
// figures: two events), until the core waits for time or the system again.
static void feed(Loop *l, const Event &event)
{
	enum : size_t { queued = 2 * maxActions };
	Event queue[queued];
	size_t first = 0;
	size_t count = 0;
	queue[count++] = event;
	while (count > 0 && !l->ended) {
		int64_t now = bootClockNs();
		// What ended before this moment is heard of before the moment is
		// judged: a watcher stopped (SIGSTOP) in the middle of a wake must
		// not find its check's deadline past while the check's end, which
		// came during the stop, waits to be collected. Looked for only when
		// the core will judge its timeout: else its end wakes the loop.
		Event next = {};
		next.kind = eventCheckEnded;
		bool judged = l->round.program && now >= l->core.view.judgesTimeoutAt;
		if (judged)
			collectCheckEnd(l->round.program);
		if (queue[first].kind == eventCheckEnded || !roundOver(l, &next.check)) {
			next = queue[first];
			first = (first + 1) % queued;
			count--;
		}
		// Asked of the system only when the core will judge a timeout, of
		// a check that the end just collected has not ended.
		if (judged && l->round.program)
			next.checkWaitedNs = checkWaitedNs(l->round.program);
		Step step = watchStep(&l->core, next, now, now - awakeClockNs(), unixTimeS());
		l->deadline = step.deadline < step.statusDeadline ? step.deadline : step.statusDeadline;
		for (size_t i = 0; i < step.count; i++) {
			Event follows;
			if (perform(l, step.actions[i], &follows) && count < queued) {
				queue[(first + count) % queued] = follows;
				count++;
			}
		}
	}
}

static void feedKind(Loop *l, EventKind kind)
{
	Event e = {};
	e.kind = kind;
	feed(l, e);
}

// pulsewarden watch --release leaves its request in the runtime
// directory, looked for at each deadline the loop wakes for (each tick at
// least), not at a worker's or a check's wake; it waits for the file to go.
// The release asked for is answered once the record that forgives is on
// disk: taken away, or, where it could not be written, replaced by why, so
// that watch --release never says released for a hold a restart restores.
static void answerRelease(Loop *l, const char *failure)
{
	l->releaseAnswerDue = false;
	char path[1100];
	snprintf(path, sizeof path, "%s%crelease", l->runtimeDir, pathSeparator);
	char answer[1700];
	int n = snprintf(answer, sizeof answer, "%s%s\n", releaseFailedMark, failure ? failure : "");
	char why[300];
	if (!failure || !replaceFile(path, answer, static_cast<size_t>(n), why, sizeof why))
		removeFile(path);
}

static void releaseWritten(Loop *l, const Event &e)
{
	if (!l->releaseAnswerDue || e.kind != eventWritten || e.answer != fileRecord)
		return;
	char failure[1500];
	snprintf(failure, sizeof failure, "cannot write the reset record %s: %s", e.path, e.why ? e.why : "");
	answerRelease(l, e.why ? failure : nullptr);
}

static void releaseIfAsked(Loop *l)
{
	char path[1100];
	snprintf(path, sizeof path, "%s%crelease", l->runtimeDir, pathSeparator);
	if (l->releaseAnswerDue || !pathExists(path))
		return;
	// An answer of ours that watch --release has not read yet, not a request.
	if (char *failure = releaseFailure(path)) {
		free(failure);
		return;
	}
	Event e = {};
	l->releaseAnswerDue = true;
	KeeperWrite write = releaseHold(&l->keeper);
	if (recordWritten(l, write, &e)) {
		releaseWritten(l, e);
		feed(l, e);
	} else if (write == keptNothing) {
		// Nowhere to keep it: forgiven until this watcher ends, not after.
		answerRelease(l, l->keeper.unkept[0] ? l->keeper.unkept : nullptr);
	}
	static ResetsCounted counted;
	resetsToCount(&l->keeper, inUse(l), &counted);
	e = Event{};
	e.kind = eventRelease;
	e.resets = &counted;
	feed(l, e);
}

// The call the core asked for, made here once nothing else of the wake is
// left, and its answer heard as a wake of its own. A call that outlasts
// takeOverAfterNs is this thread's alone: the standby has the loop from
// then on and hears the answer when it comes. False then, and this thread
// touches the loop no more.
static bool callsDue(Loop *l)
{
	LibraryCall &call = l->call;
	while (call.due && !l->ended) {
		call.due = false;
		call.answered.store(false);
		call.busy.store(true);
		call.inCall.store(true);
		callStarts(call.standby, takeOverAfterNs);
		int32_t answer = askLibrary(call.kind);
		callEnds(call.standby);
		if (!call.inCall.exchange(false)) {
			call.answer = answer;
			call.answered.store(true);
			wakeWatcher();
			return false;
		}
		call.busy.store(false);
		Event e = {};
		e.kind = eventAnswer;
		e.answer = answer;
		feed(l, e);
		feedKind(l, eventTime);
	}
	return true;
}

// Wakes and feeds the core until the watcher ends (true) or this thread
// is held up in a call and the loop is the standby's (false).
static bool runLoop(Loop *l)
{
	while (!l->ended) {
		if (!callsDue(l))
			return false;
		if (l->ended)
			break;
		Woken woke = waitForEvents(l->deadline, l->round.program, l->process);
		// What ended is collected before any deadline is judged: a check
		// that ended while the watcher was stopped did not time out.
		Event ended = {};
		ended.kind = eventCheckEnded;
		if (roundOver(l, &ended.check))
			feed(l, ended);
		if (programGone(&l->round))
			feedKind(l, eventCheckGone);
		Event answer;
		if (libraryAnswered(l, &answer))
			feed(l, answer);
		if (filesRead(l, &answer))
			feed(l, answer);
		while (published(l->publisher, &answer)) {
			releaseWritten(l, answer);
			feed(l, answer);
		}
		for (int i = 0; i < woke.stops; i++)
			feedKind(l, eventStop);
		if (woke.events & wokeByReport)
			feedKind(l, eventReport);
		if (woke.events & wokeByReload)
			feedKind(l, eventReloadAsked);
		if (l->process && processGone(l->process))
			feedKind(l, eventProcessGone);
		if (woke.events & wokeByDeadline)
			releaseIfAsked(l);
		feedKind(l, eventTime);
	}
	return true;
}

// The last status is written, unless the disk has stalled: a stop is not
// held up for it. A probe or a call into the library still under way: the
// process's exit must not pull their libraries from under them; nor may
// the standby's end of the loop wait for a thread held up in a call.
static int finish(Loop *l, bool onStandby)
{
	bool drained = finishPublishing(l->publisher, bootClockNs() + nsPerS);
	if (finishRound(&l->round, inUse(l)) || l->call.busy.load() || l->reader.busy.load() || !drained || onStandby) {
		serviceManagerEnding(l->status);
		endAtOnce(l->status);
	}
	return l->status;
}

// The standby woken by a call that outlasted its time: the loop is its
// own unless the call ended just then.
static void takeOver(void *argument)
{
	Loop *l = static_cast<Loop *>(argument);
	if (l->call.inCall.exchange(false) && runLoop(l))
		finish(l, true);
}

static int watchUsage(const char *invocationName, const char *why)
{
	if (logToServiceManager(priorityError, why))
		return exitUsage;
	char usage[1024];
	watchUsageText(invocationName, usage, sizeof usage);
	printTo(stderr, "watch: %s\n%s", why, usage);
	return exitUsage;
}

static int watchHelpAsked(const char *invocationName)
{
	char help[watchHelpSize];
	watchHelpText(invocationName, help, sizeof help);
	printOut("%s", help);
	return 0;
}

// A lock taken, or why not as a line; 0 once it is held.
static int takeLock(Loop *l, LockResult result, long holder, const char *why)
{
	switch (result) {
	case lockHeld:
		return 0;
	case lockHeldByAnother:
		// Its id is written just after the lock is taken.
		if (holder)
			sayLine(l, priorityError, "another watcher runs: process %ld holds %s; one watcher a machine, so that "
				"neither sends heartbeats beside the other nor switches monitoring off under it", holder, why);
		else
			sayLine(l, priorityError, "another watcher runs: %s is held, its process id not written yet; one watcher "
				"a machine, so that neither sends heartbeats beside the other nor switches monitoring off under it", why);
		return exitAnotherWatcher;
	case lockFailed:
		break;
	}
	sayLine(l, priorityError, "%s", why);
	return exitNoRuntimeDir;
}

// One watcher a directory, and one a machine, wherever its directory is:
// a second would keep the platform told while the first stops its
// heartbeats, and is refused before it asks anything of the platform. 0
// once the locks are held.
static int takeRuntimeDir(Loop *l, const WatchOptions &o)
{
	char *dir = l->runtimeDir;
	char why[1200];
	if (o.runtimeDir)
		snprintf(dir, sizeof l->runtimeDir, "%s", o.runtimeDir);
	else if (!defaultRuntimeDir(dir, sizeof l->runtimeDir, why, sizeof why)) {
		sayLine(l, priorityError, "no runtime directory: %s (give --runtime-dir)", why);
		return exitNoRuntimeDir;
	}
	long holder = 0;
	LockResult taken = lockRuntimeDir(dir, &holder, why, sizeof why);
	if (int status = takeLock(l, taken, holder, why))
		return status;
	char path[1100];
	if (!monitoringLockPath(path, sizeof path, why, sizeof why)) {
		sayLine(l, priorityError, "no lock for the machine's monitoring: %s", why);
		return exitNoRuntimeDir;
	}
	taken = lockMonitoring(path, dir, &holder, why, sizeof why);
	return takeLock(l, taken, holder, why);
}

int pulsewardenWatch(const char *invocationName, bool silent, int argc, char **argv)
{
	static Loop l;
	char why[512];
	WatchOptions &line = l.line;
	switch (parseWatchOptions(argc, argv, &line, &silent, why, sizeof why)) {
	case watchHelp:
		return watchHelpAsked(invocationName);
	case watchVersion:
		printVersion();
		return 0;
	case watchUnusable:
		return watchUsage(invocationName, why);
	case watchUsable:
		break;
	}
	if (line.reload)
		return reloadAsked(line);
	if (line.release)
		return releaseAsked(line);
	if (line.condition)
		return conditionAsked(line);
	l.journal = stderrIsJournal();
	l.lineSilent = silent;
	Faults faults = {&l, line.checkConfig ? Faults::printed : Faults::said, 0, false, ""};
	// The start's files are slot 0, the one in use.
	if (!gatherConfiguration(line, &l.configs[0], &silent, fault, &faults))
		return faults.refused ? static_cast<int>(exitCheckUnusable) : static_cast<int>(exitUsage);
	const WatchOptions &o = l.configs[0].options;
	if (o.checkConfig)
		return checkConfigAsked(o, silent);
	silentMode = silent;

	// Stops are heard from here on, before the slow part of a start (the
	// probes' libraries, the runtime directory): a stop asked as the
	// service starts ends it in order, said, rather than by the signal.
	if (!catchRequests(!servedByServiceManager(), why, sizeof why)) {
		sayLine(&l, priorityError, "%s", why);
		return 1;
	}
	if (!watchedPartsUsable(o, &l.users[0], why, sizeof why)) {
		sayLine(&l, priorityError, "%s", why);
		return exitCheckUnusable;
	}
	l.round.user = l.users[0];
	if (int status = takeRuntimeDir(&l, o))
		return status;
	snprintf(l.statusPath, sizeof l.statusPath, "%s%cstatus", l.runtimeDir, pathSeparator);
	if (o.config)
		keepConfigInUse(&l, o);
	if (o.pid && !(l.process = watchProcess(o.pid))) {
		sayLine(&l, priorityError, "process %ld does not exist", o.pid);
		return exitPidGone;
	}
	if (!(l.call.standby = startStandby(takeOver, &l, why, sizeof why))
		|| !(l.publisher = startPublisher(why, sizeof why))) {
		sayLine(&l, priorityError, "%s", why);
		return 1;
	}
	// The status, written a tick, is written here where the runtime
	// directory is in memory; the metrics file and the reset record may be
	// anywhere, on a disk that stalls, and stay off the heartbeats' thread.
	if (runtimeDirInMemory(l.runtimeDir))
		writeHere(l.publisher, fileStatus);
	WatchSetting &setting = l.core.setting;
	setting.options = o;
	setting.watchdogNs = serviceWatchdogNs();
	setting.pid = ownProcessId();
	// For readers who may not open the lock: that pid is still this process.
	if (!processStart(setting.pid, setting.processStart, sizeof setting.processStart, why, sizeof why))
		setting.processStart[0] = '\0';
	// What the boot before left is said first, before anything else.
	openResetKeeper(&l.keeper, o.stateDir, sayKept, &l);
	writeKeptBy(&l.keeper, l.publisher);
	recordAtStart(&l.keeper, &setting);
	resetsToCount(&l.keeper, o, &setting.resets);
	feedKind(&l, eventStart);
	// Held up in a call, this thread stands by in its turn, and takes the
	// loop back from the standby held up in one of its own.
	while (!runLoop(&l))
		do
			standBy(l.call.standby);
		while (!l.call.inCall.exchange(false));
	return finish(&l, false);
}

#if defined(_WIN32)
void askWatchToStop()
{
	requestStop();
}

void askWatchToReload()
{
	requestReload();
}
#endif
