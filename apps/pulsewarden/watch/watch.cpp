// watch's loop: it owns the clock, the waiting, the library and the system,
// and carries out what the core (core/watch_core.cpp) decides, one event
// at a time. Each change of state is one line on stderr; stdout is not
// written. The platform's library is called on a thread of its own, so
// that a call that hangs holds up neither a stop nor the watchdog.
#include "watch.h"

#include "config.h"

#include "console.h"
#include "core/metrics.h"
#include "core/watch_core.h"
#include "core/watch_options.h"
#include "exit_status.h"
#include "files.h"
#include "platform.h"
#include "probes/probe.h"
#include "probes/round.h"
#include "system.h"
#include "system/events.h"
#include "system/runtime_dir.h"
#include "system/service_manager.h"
#include "threads.h"

#include <corvane-pulsewarden.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

// The call into the platform's library under way, on the library's thread.
struct LibraryCall {
	Worker *worker;
	ActionKind kind;
	int32_t answer;
	std::atomic<bool> busy;     // asked, and not yet taken back with its answer
	std::atomic<bool> answered;
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
	WatchFigures figures;     // for --metrics-file
};

static void sayLine(const Loop *l, Priority priority, const char *format, ...) PRINTF_LIKE(3, 4);

// One line on stderr, with the time (or, into the journal, its priority);
// the service manager gets it as the status. -s hides healthy progress.
// Whatever it quotes, it stays one line: a name's line feed would split
// it, and in the status would be a message to the service manager.
static void sayLine(const Loop *l, Priority priority, const char *format, ...)
{
	char message[512];
	va_list ap;
	va_start(ap, format);
	vsnprintf(message, sizeof message, format, ap);
	va_end(ap);
	for (char *p = message; *p; p++)
		if (static_cast<unsigned char>(*p) < ' ' || *p == 0x7f)
			*p = '?';
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

static void callLibrary(void *argument)
{
	LibraryCall *call = static_cast<LibraryCall *>(argument);
	switch (call->kind) {
	case actAskEnabled:
		call->answer = Tendwell_IsEnabled();
		break;
	case actEnable:
		call->answer = Tendwell_Enable();
		break;
	case actDisable:
		call->answer = Tendwell_Disable();
		break;
	case actHeartbeat:
		call->answer = Tendwell_MarkActive();
		break;
	case actPostOk:
		call->answer = Tendwell_PostAppState(TENDWELL_APP_STATE_OK);
		break;
	case actPostNeedReset:
		call->answer = Tendwell_PostAppState(TENDWELL_APP_STATE_NEED_RESET);
		break;
	default:
		break;
	}
	call->answered.store(true);
	wakeWatcher();
}

// The answer of the call under way, once there is one; counted for the
// figures.
static bool libraryAnswered(Loop *l, Event *event)
{
	LibraryCall &call = l->call;
	if (!call.busy.load() || !call.answered.load())
		return false;
	call.busy.store(false);
	*event = Event{};
	event->kind = eventAnswer;
	event->answer = call.answer;
	WatchFigures &f = l->figures;
	if (call.kind == actHeartbeat && call.answer == TENDWELL_OK) {
		f.heartbeats++;
		f.lastHeartbeatS = unixTimeS();
	} else if (call.kind == actHeartbeat) {
		f.heartbeatsRefused++;
	} else if (call.kind == actPostNeedReset && call.answer == TENDWELL_OK) {
		f.needResetPosts++;
	}
	return true;
}

// A round that is over is counted for the figures.
static bool roundOver(Loop *l, CheckEnd *end)
{
	const WatchOptions &o = l->core.setting.options;
	if (!roundEnded(&l->round, o, end))
		return false;
	int parts = o.probeCount + (o.check ? 1 : 0);
	for (int i = 0; i < parts; i++) {
		PartRun run = partRun(l->round, o, i);
		countRun(&l->figures, i, run.passed, run.timedOut, run.durationNs);
	}
	return true;
}

// The figures, whole, where --metrics-file says; the core hears how it went.
static void writeFigures(Loop *l, Event *next)
{
	const WatchOptions &o = l->core.setting.options;
	static char text[1 << 18];
	static char why[200];
	snprintf(why, sizeof why, "more figures than the file can hold");
	bool written = formatMetrics(o, l->core.state, l->figures, unixTimeS(), PULSEWARDEN_VERSION, text, sizeof text)
		&& replaceFile(o.metricsFile, text, strlen(text), why, sizeof why);
	lowerFirst(why);
	next->kind = eventFiguresWritten;
	next->answer = written ? 0 : 1;
	next->why = why;
}

// Carries out one action; an event that follows from it at once (a check
// that could not start, the figures written) goes in `next`.
static bool perform(Loop *l, const Action &a, Event *next)
{
	*next = Event{};
	switch (a.kind) {
	case actSay:
		sayLine(l, a.priority, "%s", a.text);
		return false;
	case actNotify:
		notifyServiceManager(a.text);
		return false;
	case actAskEnabled:
	case actEnable:
	case actDisable:
	case actHeartbeat:
	case actPostOk:
	case actPostNeedReset:
		// The core asks one call at a time, and only once the last is answered.
		l->call.kind = a.kind;
		l->call.answered.store(false);
		l->call.busy.store(true);
		askWorker(l->call.worker);
		return false;
	case actStartCheck:
		// A round that is over at once (a program that could not start)
		// is heard of at once.
		startRound(&l->round, l->core.setting.options);
		next->kind = eventCheckEnded;
		return roundOver(l, &next->check);
	case actAskCheckToEnd:
		// Probes are not waited for: a round of probes alone is over now.
		askRoundToEnd(&l->round, l->core.setting.options);
		next->kind = eventCheckEnded;
		return roundOver(l, &next->check);
	case actEndCheck:
		endRound(&l->round);
		return false;
	case actWriteFigures:
		writeFigures(l, next);
		return true;
	case actRemoveFigures:
		removeFile(l->core.setting.options.metricsFile);
		return false;
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
		Event next = queue[first];
		first = (first + 1) % queued;
		count--;
		int64_t now = bootClockNs();
		Step step = watchStep(&l->core, next, now, now - awakeClockNs());
		l->deadline = step.deadline;
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
	char help[4096];
	watchHelpText(invocationName, help, sizeof help);
	printOut("%s", help);
	return 0;
}

bool watchedPartsUsable(const WatchOptions &o, char *why, size_t size)
{
	char reason[400];
	if (o.check && !checkProgramUsable(o.check[0], reason, sizeof reason)) {
		snprintf(why, size, "cannot start the check: %s", reason);
		return false;
	}
	for (int i = 0; i < o.probeCount; i++) {
		if (!probeReady(o.probes[i], reason, sizeof reason)) {
			char shown[300];
			probeShownTarget(o.probes[i], shown, sizeof shown);
			snprintf(why, size, "cannot use %s %s: %s", probeOption(o.probes[i].kind), shown, reason);
			return false;
		}
	}
	// A directory not made yet is no reason: it is tried again each tick.
	if (o.metricsFile && neverReplaceable(o.metricsFile, reason, sizeof reason)) {
		lowerFirst(reason);
		snprintf(why, size, "cannot write the metrics file %s: %s", o.metricsFile, reason);
		return false;
	}
	return true;
}

// One watcher a machine: a second is refused before it asks anything of
// the platform. 0 once the lock is held.
static int takeRuntimeDir(const Loop *l, const WatchOptions &o)
{
	char dir[1024];
	char why[1200];
	if (!o.runtimeDir && !defaultRuntimeDir(dir, sizeof dir, why, sizeof why)) {
		sayLine(l, priorityError, "no runtime directory: %s (give --runtime-dir)", why);
		return 1;
	}
	long holder = 0;
	switch (lockRuntimeDir(o.runtimeDir ? o.runtimeDir : dir, &holder, why, sizeof why)) {
	case lockHeld:
		return 0;
	case lockHeldByAnother:
		sayLine(l, priorityError, "another watcher runs: process %ld holds %s; one watcher a machine, so that "
			"neither switches monitoring off under the other", holder, why);
		return exitAnotherWatcher;
	case lockFailed:
		sayLine(l, priorityError, "%s", why);
		return 1;
	}
	return 1;
}

// A fault of a configuration file: a line of its own when checking, else
// said as any other.
struct Faults {
	const Loop *loop;
	bool checking;
};

static void sayFault(const char *line, void *context)
{
	auto *f = static_cast<const Faults *>(context);
	if (f->checking)
		printTo(stderr, "%s\n", line);
	else
		sayLine(f->loop, priorityError, "%s", line);
}

// The command line laid over the files it names, if it names any: false,
// each fault said, when they cannot be watched with.
static bool gatherOptions(const Loop *l, const WatchOptions &line, WatchConfig *files, bool *silent)
{
	WatchOptions *o = &files->options;
	Faults faults = {l, line.checkConfig};
	startConfig(files);
	if (!line.config) {
		*o = line;
		return true;
	}
	if (!loadConfig(line.config, files, sayFault, &faults))
		return false;
	char why[512];
	if (!layOver(o, line))
		snprintf(why, sizeof why, "at most %d probes, the files' and the command line's together",
			static_cast<int>(maxProbes));
	else if (!watchOptionsProblem(*o, why, sizeof why))
		why[0] = '\0';
	if (why[0]) {
		char fault[700];
		snprintf(fault, sizeof fault, "%s: %s", line.config, why);
		sayFault(fault, &faults);
		return false;
	}
	*silent = *silent || files->silent;
	return true;
}

// --check-config: everything a start would check, and nothing asked of
// the platform; with --print, the configuration in effect.
static int checkConfigAsked(const WatchOptions &o, bool silent)
{
	char why[600];
	if (!watchedPartsUsable(o, why, sizeof why)) {
		printTo(stderr, "%s\n", why);
		return exitCheckUnusable;
	}
	if (!o.print)
		return 0;
	static char text[1 << 18];
	if (!printConfig(o, silent, text, sizeof text, why, sizeof why)) {
		printTo(stderr, "%s\n", why);
		return exitUsage;
	}
	printOut("%s", text);
	return 0;
}

int pulsewardenWatch(const char *invocationName, bool silent, int argc, char **argv)
{
	static Loop l;
	static WatchConfig files;
	char why[512];
	WatchOptions line;
	switch (parseWatchOptions(argc, argv, &line, &silent, why, sizeof why)) {
	case watchHelp:
		return watchHelpAsked(invocationName);
	case watchUnusable:
		return watchUsage(invocationName, why);
	case watchUsable:
		break;
	}
	l.journal = stderrIsJournal();
	if (!gatherOptions(&l, line, &files, &silent))
		return exitUsage;
	WatchOptions &o = l.core.setting.options;
	o = files.options;
	if (o.checkConfig)
		return checkConfigAsked(o, silent);
	silentMode = silent;

	if (!watchedPartsUsable(o, why, sizeof why)) {
		sayLine(&l, priorityError, "%s", why);
		return exitCheckUnusable;
	}
	if (int status = takeRuntimeDir(&l, o))
		return status;
	if (o.pid && !(l.process = watchProcess(o.pid))) {
		sayLine(&l, priorityError, "process %ld does not exist", o.pid);
		return exitPidGone;
	}
	if (!catchRequests(!servedByServiceManager(), why, sizeof why)
		|| !(l.call.worker = startWorker(callLibrary, &l.call, why, sizeof why))) {
		sayLine(&l, priorityError, "%s", why);
		return 1;
	}
	l.core.setting.watchdogNs = serviceWatchdogNs();
	feedKind(&l, eventStart);
	while (!l.ended) {
		Woken woke = waitForEvents(l.deadline, l.round.program, l.process);
		// What ended is collected before any deadline is judged: a check
		// that ended while the watcher was stopped did not time out.
		Event ended = {};
		ended.kind = eventCheckEnded;
		if (roundOver(&l, &ended.check))
			feed(&l, ended);
		Event answer;
		if (libraryAnswered(&l, &answer))
			feed(&l, answer);
		for (int i = 0; i < woke.stops; i++)
			feedKind(&l, eventStop);
		if (woke.events & wokeByReport)
			feedKind(&l, eventReport);
		if (l.process && processGone(l.process))
			feedKind(&l, eventProcessGone);
		feedKind(&l, eventTime);
	}
	// A probe or a call into the library still under way: the process's
	// exit must not pull their libraries from under them.
	if (finishRound(&l.round, o) || l.call.busy.load()) {
		serviceManagerEnding(l.status);
		endAtOnce(l.status);
	}
	return l.status;
}
