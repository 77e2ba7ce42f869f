// watch's loop: it owns the clock, the waiting, the library and the system,
// and carries out what the core (core/watch_core.cpp) decides, one event
// at a time. Each change of state is one line on stderr; stdout is not
// written. The platform's library is called on a thread of its own, so
// that a call that hangs holds up neither a stop nor the watchdog.
#include "watch.h"

#include "config.h"

#include "console.h"
#include "core/metrics.h"
#include "core/status_file.h"
#include "core/watch_core.h"
#include "core/watch_options.h"
#include "exit_status.h"
#include "files.h"
#include "platform.h"
#include "probes/probe.h"
#include "probes/round.h"
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
	WatchStatus standing;     // for pulsewarden status: each part's last results
	bool statusDue;           // something happened since it was written
	bool statusFailing;       // the last write failed (said once)
	int64_t statusAt;         // when it was written, on the boot clock
	char summary[512];        // STATUS= as last told
	ResetKeeper keeper;       // the state directory's reset record
	// The configuration: the command line as given, and the files read
	// onto it: the one in use, one checked and waiting for the round under
	// way to end, and the one a reload reads into, which becomes the one
	// waiting only once it checks out: files refused after others were
	// accepted never touch those.
	WatchOptions line;
	WatchConfig configs[3];
	int inUse;
	int waiting;              // -1: none
	// The files just read, and their check's user: they wait from the
	// moment the core hears of them, not before, or a round that ends
	// first would apply them before their reload is heard, then nothing.
	int arriving;             // -1: none
	CheckUser *arrivingUser;
	unsigned reloadsAnswered;
	char runtimeDir[1024];
	CheckUser *checkUser;     // whom the check runs as: null, the watcher
	CheckUser *checkUserWaiting; // with the configuration waiting
};

static void sayLine(const Loop *l, Priority priority, const char *format, ...) PRINTF_LIKE(3, 4);

// A line was told to the service manager as the status since the state's
// summary was: the summary is told again after it.
static bool lineIsStatus;

// One line on stderr, with the time (or, into the journal, its priority);
// the service manager gets it as the status. -s hides healthy progress.
// Whatever it quotes, it stays one line: a name's line feed would split
// it, and in the status would be a message to the service manager.
static void sayLine(const Loop *l, Priority priority, const char *format, ...)
{
	char message[1024];
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
	lineIsStatus = true;
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
	double nowS = unixTimeS();
	for (int i = 0; i < parts; i++) {
		char line[320];
		PartRun run = partRun(l->round, o, i, line, sizeof line);
		countRun(&l->figures, i, run.passed, run.timedOut, run.durationNs);
		addResult(&l->standing.parts[i], nowS, run.passed ? resultPass : run.timedOut ? resultTimeout : resultFail,
			static_cast<double>(run.durationNs) / 1e9, line);
	}
	return true;
}

// Each part's name in the status, as its lines name it.
static void nameParts(Loop *l)
{
	const WatchOptions &o = l->core.setting.options;
	WatchStatus &s = l->standing;
	s.partCount = o.probeCount + (o.check ? 1 : 0);
	for (int i = 0; i < s.partCount; i++) {
		char *name = s.parts[i].name;
		if (i < o.probeCount)
			probeName(o.probes[i], name, sizeof s.parts[i].name);
		else
			snprintf(name, sizeof s.parts[i].name, "%s", o.check[0]);
	}
}

// The parts of a configuration applied keep their results where they are
// the part they were (`from`, as matchParts gives); new ones start afresh.
static void regroupStatus(Loop *l, const int *from, int count)
{
	static PartHistory before[maxProbes + 1];
	memcpy(before, l->standing.parts, sizeof before);
	for (int i = 0; i < count; i++)
		l->standing.parts[i] = from[i] >= 0 ? before[from[i]] : PartHistory{};
}

// The status file, where pulsewarden status reads it; and the state in a
// line, as STATUS= for the service manager, whenever it changes.
static void writeStatus(Loop *l)
{
	const WatchCore &c = l->core;
	const WatchOptions &o = c.setting.options;
	WatchStatus &s = l->standing;
	int64_t now = bootClockNs();
	double nowS = unixTimeS();
	auto unixAt = [&](int64_t t) { return nowS - static_cast<double>(now - t) / 1e9; };
	s.pid = ownProcessId();
	statusSummary(c, s.summary, sizeof s.summary);
	// Each line is the status for a moment; the summary stays, but for the
	// watcher's last line, which says how it ended.
	if ((strcmp(s.summary, l->summary) != 0 || lineIsStatus) && !l->ended) {
		char told[sizeof l->summary + 8];
		snprintf(told, sizeof told, "STATUS=%s", s.summary);
		notifyServiceManager(told);
		snprintf(l->summary, sizeof l->summary, "%s", s.summary);
		lineIsStatus = false;
	}
	snprintf(s.state, sizeof s.state, "%s", stateName(c.state));
	s.sinceS = unixAt(c.stateSince);
	s.updatedS = nowS;
	s.failures = c.record.failures;
	s.passes = c.record.passes;
	s.fall = o.fall;
	s.rise = o.rise;
	s.needResetAfter = o.needResetAfter;
	s.intervalS = static_cast<double>(o.intervalNs) / 1e9;
	bool ticking = !c.stop.requests && !o.pid;
	s.nextCheckS = ticking ? unixAt(c.schedule.nextTick) : 0;
	s.lastHeartbeatS = c.platform.lastHeartbeatAt > 0 ? unixAt(c.platform.lastHeartbeatAt) : 0;
	s.resetRequested = c.platform.resetPosted;
	bool off = c.state == statePaused || (c.state == stateHeld && c.hold.off);
	snprintf(s.monitoring, sizeof s.monitoring, "%s", off ? "off" : "on");
	snprintf(s.config, sizeof s.config, "%s", o.config ? o.config : "command line");
	const ResetRecord &r = l->keeper.record;
	s.resetsTotal = r.total;
	s.resetCount = 0;
	for (int i = r.count > resetsShown ? r.count - resetsShown : 0; i < r.count; i++) {
		s.resets[s.resetCount].atS = resetAtS(r.resets[i]);
		snprintf(s.resets[s.resetCount].why, sizeof s.resets[0].why, "%s", r.resets[i].why);
		s.resetCount++;
	}
	static char text[1 << 20];
	char path[1100];
	snprintf(path, sizeof path, "%s%cstatus", l->runtimeDir, pathSeparator);
	if (formatStatusFile(s, text, sizeof text)) {
		char why[200];
		bool written = replaceFile(path, text, strlen(text), why, sizeof why);
		// Said once: pulsewarden status then says the file grew old.
		if (!written && !l->statusFailing)
			sayLine(l, priorityWarning, "cannot write the status file %s: %s; trying again at each tick", path, why);
		l->statusFailing = !written;
	}
	l->statusDue = false;
	l->statusAt = now;
	stillSeen(&l->keeper, o.intervalNs);
}

// A line of the keeper's: those of their own kind where the journal or
// the event log can tell them apart, else as any other.
static void sayKept(void *context, Priority priority, int kind, const char *line)
{
	if (kind < 0 || !logMessage(static_cast<MessageKind>(kind), priority, line))
		sayLine(static_cast<const Loop *>(context), priority, "%s", line);
}

// The resets concluded so far, for the figures.
static void countResets(Loop *l)
{
	const ResetRecord &r = l->keeper.record;
	l->figures.resetsTotal = r.total;
	l->figures.lastResetS = r.count > 0 ? resetAtS(r.resets[r.count - 1]) : 0;
	resetsToCount(&l->keeper, l->core.setting.options, &l->core.setting);
}

// The figures, whole, where --metrics-file says; the core hears how it went.
static void writeFigures(Loop *l, Event *next)
{
	const WatchOptions &o = l->core.setting.options;
	static char text[1 << 18];
	static char why[200];
	snprintf(why, sizeof why, "more figures than the file can hold");
	l->figures.unchecked = uncheckedTooLong(l->core);
	bool written = formatMetrics(o, l->core.state, l->figures, unixTimeS(), PULSEWARDEN_VERSION, text, sizeof text)
		&& replaceFile(o.metricsFile, text, strlen(text), why, sizeof why);
	lowerFirst(why);
	next->kind = eventFiguresWritten;
	next->answer = written ? 0 : 1;
	next->why = why;
}

// Tells whoever waits in watch --reload how the reload went: a file in the
// runtime directory, replaced whole, with a count that changes each time.
static void answerReload(Loop *l, const char *how)
{
	char path[1100];
	char text[900];
	snprintf(path, sizeof path, "%s/reload", l->runtimeDir);
	int n = snprintf(text, sizeof text, "%u %s\n", ++l->reloadsAnswered, how);
	char why[200];
	replaceFile(path, text, static_cast<size_t>(n < static_cast<int>(sizeof text) ? n : sizeof text - 1), why,
		sizeof why);
}

// The configuration in use, as a file that --config reads, in the runtime
// directory: what the watcher runs now, whatever the files say since.
static void keepConfigInUse(Loop *l)
{
	static char text[1 << 18];
	char why[300];
	char path[1100];
	snprintf(path, sizeof path, "%s/config.toml", l->runtimeDir);
	if (printConfig(l->core.setting.options, silentMode, text, sizeof text, why, sizeof why))
		replaceFile(path, text, strlen(text), why, sizeof why);
	else
		removeFile(path);
}

// The configuration waiting made the one in use, between two rounds:
// each part keeps its thread and its figures where it is the part it was.
static void applyConfig(Loop *l, Event *next)
{
	WatchOptions &o = l->core.setting.options;
	const WatchOptions &after = l->configs[l->waiting].options;
	int from[maxProbes + 1];
	matchParts(o, after, from);
	regroupRound(&l->round, o, after, from);
	regroupFigures(&l->figures, after, from);
	regroupStatus(l, from, after.probeCount + (after.check ? 1 : 0));
	if (o.metricsFile && (!after.metricsFile || strcmp(o.metricsFile, after.metricsFile) != 0))
		removeFile(o.metricsFile);
	int count = after.probeCount + (after.check ? 1 : 0);
	int kept = 0;
	for (int i = 0; i < count; i++)
		kept += from[i] >= 0;
	int before = o.probeCount + (o.check ? 1 : 0);
	o = after;
	nameParts(l);
	// --max-resets may have changed: its period, its count.
	countResets(l);
	l->inUse = l->waiting;
	l->waiting = -1;
	releaseCheckUser(l->checkUser);
	l->round.user = l->checkUser = l->checkUserWaiting;
	l->checkUserWaiting = nullptr;
	l->figures.lastReloadFailed = false;
	l->figures.configReadS = unixTimeS();
	static char how[120];
	snprintf(how, sizeof how, "%d part%s: %d kept, %d new, %d removed", count, count == 1 ? "" : "s", kept,
		count - kept, before - kept);
	next->kind = eventConfigApplied;
	next->why = how;
	keepConfigInUse(l);
	answerReload(l, "applied");
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
	case actApplyConfig:
		applyConfig(l, next);
		return true;
	case actKeepRecord:
		keepResetRecord(&l->keeper, a.text, a.status == 1, l->figures.lastHeartbeatS,
			l->core.setting.options.windowNs, l->core.setting.options.intervalNs);
		return false;
	case actTakeBackRecord:
		takeBackResetRecord(&l->keeper);
		return false;
	case actHold:
		keepHeld(&l->keeper, true);
		sayKept(l, priorityError, messageHeld, a.text);
		return false;
	case actEndHold:
		keepHeld(&l->keeper, false);
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
		int64_t now = bootClockNs();
		// What ended before this moment is heard of before the moment is
		// judged: a watcher stopped (SIGSTOP) in the middle of a wake must
		// not find its check's deadline past while the check's end, which
		// came during the stop, waits to be collected.
		Event next = {};
		next.kind = eventCheckEnded;
		collectCheckEnd(l->round.program);
		if (queue[first].kind == eventCheckEnded || !roundOver(l, &next.check)) {
			next = queue[first];
			first = (first + 1) % queued;
			count--;
		}
		// Asked of the system only when the core will judge a timeout.
		const WatchCore &core = l->core;
		if (l->round.program && core.check.running && !core.check.timedOut && now >= core.check.deadline)
			next.checkWaitedNs = checkWaitedNs(l->round.program);
		if (next.kind == eventReload && l->arriving >= 0) {
			releaseCheckUser(l->checkUserWaiting);
			l->checkUserWaiting = l->arrivingUser;
			l->waiting = l->arriving;
			l->arriving = -1;
		}
		Step step = watchStep(&l->core, next, now, now - awakeClockNs());
		l->deadline = step.deadline;
		l->statusDue = l->statusDue || step.count > 0 || next.kind == eventAnswer;
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
// directory, looked for at every wake; it waits for the file to go.
static void releaseIfAsked(Loop *l)
{
	char path[1100];
	snprintf(path, sizeof path, "%s%crelease", l->runtimeDir, pathSeparator);
	if (!pathExists(path))
		return;
	releaseHold(&l->keeper);
	countResets(l);
	removeFile(path);
	feedKind(l, eventRelease);
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

bool watchedPartsUsable(const WatchOptions &o, CheckUser **user, char *why, size_t size)
{
	char reason[400];
	CheckUser *runAs = nullptr;
	if (o.check && o.checkUser && !(runAs = lookUpCheckUser(o.checkUser, reason, sizeof reason))) {
		snprintf(why, size, "cannot start the check: %s", reason);
		return false;
	}
	if (o.check && !checkProgramTrusted(o.check[0], runAs, reason, sizeof reason)) {
		releaseCheckUser(runAs);
		snprintf(why, size, "cannot start the check: %s", reason);
		return false;
	}
	if (user)
		*user = runAs;
	else
		releaseCheckUser(runAs);
	for (int i = 0; i < o.probeCount; i++) {
		// Its tokens sent in the watcher's name: written by the watcher's
		// own alone.
		const char *headers = o.probes[i].headersFile;
		if (!probeReady(o.probes[i], reason, sizeof reason) || (headers && writableByOthers(headers, reason, sizeof reason))) {
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
static int takeRuntimeDir(Loop *l, const WatchOptions &o)
{
	char *dir = l->runtimeDir;
	char why[1200];
	if (o.runtimeDir)
		snprintf(dir, sizeof l->runtimeDir, "%s", o.runtimeDir);
	else if (!defaultRuntimeDir(dir, sizeof l->runtimeDir, why, sizeof why)) {
		sayLine(l, priorityError, "no runtime directory: %s (give --runtime-dir)", why);
		return 1;
	}
	long holder = 0;
	switch (lockRuntimeDir(dir, &holder, why, sizeof why)) {
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

// A fault of a configuration file: a line of its own when checking; at
// the start said as any other; at a reload kept, the first of them, for
// the line that says it was refused.
struct Faults {
	const Loop *loop;
	enum { printed, said, kept } how;
	int count;
	char first[700];
};

static void fault(const char *line, void *context)
{
	auto *f = static_cast<Faults *>(context);
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
	static char text[1 << 18];
	if (!printConfig(o, silent, text, sizeof text, why, sizeof why)) {
		printTo(stderr, "%s\n", why);
		return exitUsage;
	}
	printOut("%s", text);
	return 0;
}

// SIGHUP: the files read again and checked whole, as a start would; the
// core applies them between two rounds, or hears why not. What only a
// start decides stays as it began: whether this watcher owns monitoring,
// its runtime and state directories, and the process it watches.
static void readFilesAgain(Loop *l)
{
	notifyReloading();
	// Its command line is all its configuration, and it stays as it is:
	// SIGHUP says how things stand, as it always has.
	if (!l->line.config) {
		answerReload(l, "applied");
		feedKind(l, eventReport);
		notifyServiceManager("READY=1");
		return;
	}
	const WatchOptions &o = l->core.setting.options;
	int read = 0;
	while (read == l->inUse || read == l->waiting)
		read++;
	WatchConfig *candidate = &l->configs[read];
	Faults faults = {l, Faults::kept, 0, ""};
	bool silent = false;
	char why[800] = "";
	// The check's user goes with these files: the files waiting, if any,
	// keep theirs until these take their place.
	CheckUser *runAs = nullptr;
	if (gatherConfiguration(l->line, candidate, &silent, fault, &faults)) {
		WatchOptions &after = candidate->options;
		char reason[600];
		if (after.pid != o.pid)
			snprintf(why, sizeof why, "%s: the process watched changes only with a start", l->line.config);
		else if (!watchedPartsUsable(after, &runAs, reason, sizeof reason))
			snprintf(why, sizeof why, "%s", reason);
		after.enable = o.enable;
		after.runtimeDir = o.runtimeDir;
		after.stateDir = o.stateDir;
	} else {
		snprintf(why, sizeof why, "%s%s", faults.first, faults.count > 1 ? " (and more: --check-config says all)" : "");
	}
	if (why[0]) {
		releaseCheckUser(runAs);
		l->figures.lastReloadFailed = true;
		char answer[820];
		snprintf(answer, sizeof answer, "refused: %s", why);
		answerReload(l, answer);
		Event e = {};
		e.kind = eventReloadRefused;
		e.why = why;
		feed(l, e);
		return;
	}
	l->arriving = read;
	l->arrivingUser = runAs;
	feedKind(l, eventReload);
}

// The watcher's answer to the last reload: a count that changes with each,
// and how it went.
static bool reloadAnswer(const char *dir, unsigned *count, char *how, size_t size)
{
	char path[1100];
	snprintf(path, sizeof path, "%s/reload", dir);
	char *text;
	size_t length;
	char ignored[200];
	if (!readWholeFile(path, 4096, &text, &length, ignored, sizeof ignored))
		return false;
	char *after;
	unsigned long number = strtoul(text, &after, 10);
	bool read = after != text && *after == ' ';
	if (read) {
		*count = static_cast<unsigned>(number);
		after++;
		snprintf(how, size, "%.*s", static_cast<int>(strcspn(after, "\n")), after);
	}
	free(text);
	return read;
}

int reloadWatcher(const char *dir, bool (*ask)(void *context, char *why, size_t size), void *context)
{
	char why[1200];
	long pid = runningWatcher(dir, why, sizeof why);
	if (!pid) {
		printTo(stderr, "watch: %s\n", why);
		return 1;
	}
	unsigned before = 0;
	char how[900];
	reloadAnswer(dir, &before, how, sizeof how);
	if (!ask(context, why, sizeof why)) {
		printTo(stderr, "watch: %s\n", why);
		return 1;
	}
	// A reload waits for the round under way, which lasts the timeout at
	// most; a library that hangs holds none of it up.
	int64_t deadline = bootClockNs() + 120 * nsPerS;
	while (bootClockNs() < deadline) {
		unsigned count = 0;
		if (reloadAnswer(dir, &count, how, sizeof how) && count != before) {
			if (strncmp(how, "applied", 7) == 0)
				return 0;
			printTo(stderr, "watch: %s\n", how);
			return 1;
		}
		if (!runningWatcher(dir, why, sizeof why)) {
			printTo(stderr, "watch: process %ld ended before it answered\n", pid);
			return 1;
		}
		pauseFor(20 * nsPerMs);
	}
	printTo(stderr, "watch: process %ld has not answered within 120 s\n", pid);
	return 1;
}

// The runtime directory a command line names, or the default; false, said.
static bool runtimeDirOf(const WatchOptions &line, char *dir, size_t size)
{
	char why[1200];
	if (line.runtimeDir)
		snprintf(dir, size, "%s", line.runtimeDir);
	else if (!defaultRuntimeDir(dir, size, why, sizeof why)) {
		printTo(stderr, "watch: no runtime directory: %s (give --runtime-dir)\n", why);
		return false;
	}
	return true;
}

// watch --release: the watcher that runs takes the request at its next
// wake, at its next tick at the latest, and answers by taking it away;
// with none running, the record is changed here.
static int releaseAsked(const WatchOptions &line)
{
	char dir[1024];
	char why[1200];
	if (!runtimeDirOf(line, dir, sizeof dir))
		return 1;
	long pid = runningWatcher(dir, why, sizeof why);
	if (!pid) {
		if (!releaseRecord(line.stateDir, why, sizeof why)) {
			printTo(stderr, "watch: cannot release: %s\n", why);
			return 1;
		}
		printOut("released: no watcher runs; the next one counts no reset before now\n");
		return 0;
	}
	char path[1100];
	snprintf(path, sizeof path, "%s%crelease", dir, pathSeparator);
	if (!replaceFile(path, "release\n", 8, why, sizeof why)) {
		printTo(stderr, "watch: cannot ask process %ld: %s: %s\n", pid, path, why);
		return 1;
	}
	for (int64_t deadline = bootClockNs() + 120 * nsPerS; bootClockNs() < deadline; pauseFor(20 * nsPerMs)) {
		if (!pathExists(path)) {
			printOut("released: process %ld counts no reset before now\n", pid);
			return 0;
		}
		if (!runningWatcher(dir, why, sizeof why)) {
			removeFile(path);
			printTo(stderr, "watch: process %ld ended before it took the release: run this again\n", pid);
			return 1;
		}
	}
	removeFile(path);
	printTo(stderr, "watch: process %ld has not taken the release within 120 s\n", pid);
	return 1;
}

// watch --reload: the watcher that holds the runtime directory, by SIGHUP.
static int reloadAsked(const WatchOptions &line)
{
	char dir[1024];
	if (!runtimeDirOf(line, dir, sizeof dir))
		return 1;
	auto bySignal = [](void *context, char *reason, size_t size) {
		const char *d = static_cast<const char *>(context);
		long pid = runningWatcher(d, reason, size);
		return pid && askToReload(pid, reason, size);
	};
	return reloadWatcher(dir, bySignal, dir);
}

int pulsewardenWatch(const char *invocationName, bool silent, int argc, char **argv)
{
	static Loop l;
	char why[512];
	WatchOptions &line = l.line;
	switch (parseWatchOptions(argc, argv, &line, &silent, why, sizeof why)) {
	case watchHelp:
		return watchHelpAsked(invocationName);
	case watchUnusable:
		return watchUsage(invocationName, why);
	case watchUsable:
		break;
	}
	if (line.reload)
		return reloadAsked(line);
	if (line.release)
		return releaseAsked(line);
	l.journal = stderrIsJournal();
	Faults faults = {&l, line.checkConfig ? Faults::printed : Faults::said, 0, ""};
	if (!gatherConfiguration(line, &l.configs[0], &silent, fault, &faults))
		return exitUsage;
	WatchOptions &o = l.core.setting.options;
	o = l.configs[0].options;
	l.waiting = l.arriving = -1;
	if (o.checkConfig)
		return checkConfigAsked(o, silent);
	silentMode = silent;
	if (o.config)
		l.figures.configReadS = unixTimeS();

	// Stops are heard from here on, before the slow part of a start (the
	// probes' libraries, the runtime directory): a stop asked as the
	// service starts ends it in order, said, rather than by the signal.
	if (!catchRequests(!servedByServiceManager(), why, sizeof why)) {
		sayLine(&l, priorityError, "%s", why);
		return 1;
	}
	if (!watchedPartsUsable(o, &l.checkUser, why, sizeof why)) {
		sayLine(&l, priorityError, "%s", why);
		return exitCheckUnusable;
	}
	l.round.user = l.checkUser;
	if (int status = takeRuntimeDir(&l, o))
		return status;
	if (o.config)
		keepConfigInUse(&l);
	if (o.pid && !(l.process = watchProcess(o.pid))) {
		sayLine(&l, priorityError, "process %ld does not exist", o.pid);
		return exitPidGone;
	}
	if (!(l.call.worker = startWorker(callLibrary, &l.call, why, sizeof why))) {
		sayLine(&l, priorityError, "%s", why);
		return 1;
	}
	l.core.setting.watchdogNs = serviceWatchdogNs();
	// What the boot before left is said first, before anything else.
	openResetKeeper(&l.keeper, o.stateDir, sayKept, &l);
	l.core.setting.recordStands = l.keeper.record.pending;
	countResets(&l);
	nameParts(&l);
	feedKind(&l, eventStart);
	while (!l.ended) {
		// The status is kept fresh while nothing happens (the library
		// awaited), so that an old one means a watcher that does not run.
		if (l.statusDue || bootClockNs() - l.statusAt >= o.intervalNs)
			writeStatus(&l);
		int64_t statusNext = l.statusAt + o.intervalNs;
		Woken woke = waitForEvents(l.deadline < statusNext ? l.deadline : statusNext, l.round.program, l.process);
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
		if (woke.events & wokeByReload)
			readFilesAgain(&l);
		if (l.process && processGone(l.process))
			feedKind(&l, eventProcessGone);
		releaseIfAsked(&l);
		feedKind(&l, eventTime);
	}
	writeStatus(&l);
	// A probe or a call into the library still under way: the process's
	// exit must not pull their libraries from under them.
	if (finishRound(&l.round, o) || l.call.busy.load()) {
		serviceManagerEnding(l.status);
		endAtOnce(l.status);
	}
	return l.status;
}
