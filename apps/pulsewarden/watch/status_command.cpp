// pulsewarden status: how the watcher of this machine stands, read from
// the status file it keeps in its runtime directory, never asked of the
// watcher itself: a wedged watcher still gets an answer. The exit status
// says it for scripts: 0 healthy, 1 failing or starting, 2 paused, 3 none.
#include "watch.h"

#include "console.h"
#include "core/full_path.h"
#include "core/status_view.h"
#include "exit_status.h"
#include "files.h"
#include "system.h"
#include "system/runtime_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static void statusUsageLine(FILE *to, const char *invocationName)
{
	printTo(to, "Usage: %s status [--json] [--runtime-dir DIR]\n", invocationName);
}

static int statusUsage(const char *invocationName, const char *why)
{
	printTo(stderr, "status: %s\n", why);
	statusUsageLine(stderr, invocationName);
	return exitUsage;
}

static int statusHelp(const char *invocationName)
{
	statusUsageLine(stdout, invocationName);
	printOut("How the watcher of this machine stands, read from the status file it keeps in\n"
		"its runtime directory, never asked of the watcher: a wedged one still gets an\n"
		"answer.\n"
		"  --json                the same as one JSON object\n"
		"  --runtime-dir DIR     the watcher's runtime directory, as watch's --runtime-dir\n"
		"                        gave it (default: the user's own watcher's, else the\n"
		"                        machine's, /run/pulsewarden for the unit)\n"
		"  --help                this text\n"
		"  --version             say the version, and exit\n"
		"Exit status: 0 healthy; 1 failing, or starting; 2 paused, monitoring off; 3 no\n"
		"watcher runs, or its status is out of date; 100 a command line it cannot use.\n");
	return 0;
}

static void clockTime(double unixS, char *text, size_t size)
{
	if (unixS > 0)
		localTimeOf(unixS, text, size);
	else
		snprintf(text, size, "none yet");
}

static const char *const resultWords[] = {"pass", "fail", "timeout"};

// A few lines for a person: the state in a line, the watcher's schedule,
// each part's last result.
static void printStatus(const WatchStatus &s)
{
	char since[32];
	char beat[32];
	char next[32];
	localTimeOf(s.sinceS, since, sizeof since);
	clockTime(s.lastHeartbeatS, beat, sizeof beat);
	clockTime(s.nextCheckS, next, sizeof next);
	printOut("%s\n", s.summary);
	printOut("process %ld, %s since %s; last heartbeat %s; next check %s; monitoring %s%s; configuration %s\n",
		s.pid, s.state, since, beat, s.nextCheckS > 0 ? next : "not due", s.monitoring,
		s.resetRequested ? "; appStateNeedReset posted" : "", s.config);
	if (s.resetsTotal)
		printOut("the platform's resets: %lld in all%s\n", s.resetsTotal, s.resetCount ? "; the last:" : "");
	for (int i = 0; i < s.resetCount; i++) {
		char at[32];
		localTimeOf(s.resets[i].atS, at, sizeof at);
		printOut("  %s: %s\n", at, s.resets[i].why);
	}
	for (int i = 0; i < s.partCount; i++) {
		const PartHistory &p = s.parts[i];
		if (p.count == 0) {
			printOut("  %s: not run yet\n", p.name);
			continue;
		}
		const PartResult &r = p.results[p.count - 1];
		char at[32];
		localTimeOf(r.atS, at, sizeof at);
		printOut("  %s: %s at %s after %.0f ms%s%s\n", p.name, resultWords[r.result], at, r.durationS * 1e3,
			r.line[0] ? ": " : "", r.line);
	}
}

// A runtime directory as the status command reads it: its status file,
// and whether its watcher runs.
struct Reading {
	char dir[1024];
	bool there;          // a status file is there
	bool read;           // and was read
	char unread[300];    // why it could not be
	WatchStatus status;
	Liveness seen;
	char seenWhy[1200];
};

// By the lock, where this user may look at it; else by the process the
// status names, which must be the one that started then.
static void readIn(Reading *r)
{
	char path[1100];
	snprintf(path, sizeof path, "%s%cstatus", r->dir, pathSeparator);
	r->there = pathExists(path);
	r->read = false;
	r->unread[0] = '\0';
	char *text = nullptr;
	size_t length = 0;
	if (r->there && readWholeFile(path, 4 << 20, &text, &length, r->unread, sizeof r->unread))
		r->read = parseStatusFile(text, length, &r->status, r->unread, sizeof r->unread);
	free(text);
	long pid = 0;
	Holding holding = watcherHolding(r->dir, &pid, r->seenWhy, sizeof r->seenWhy);
	r->seen = Liveness{holding == holdingHeld ? aliveYes : holding == holdingNone ? aliveNo : aliveUntold, pid,
		r->seenWhy};
	if (holding != holdingUntold || !r->read || pid)
		return;
	switch (processSeen(r->status.pid, r->status.processStart, r->seenWhy, sizeof r->seenWhy)) {
	case processRuns:
		r->seen = Liveness{aliveYes, r->status.pid, r->seenWhy};
		return;
	case processEnded:
		r->seen = Liveness{aliveNo, 0, r->seenWhy};
		return;
	case processUntold:
		r->seen.pid = r->status.pid;
		return;
	}
}

int pulsewardenStatus(const char *invocationName, int argc, char **argv)
{
	bool json = false;
	const char *given = nullptr;
	for (int i = 0; i < argc; i++) {
		if (strcmp(argv[i], "--json") == 0)
			json = true;
		else if (strcmp(argv[i], "--runtime-dir") == 0 && i + 1 < argc && fullPath(argv[i + 1]))
			given = argv[++i];
		else if (strcmp(argv[i], "--runtime-dir") == 0)
			return statusUsage(invocationName, "--runtime-dir needs a full path");
		else if (strcmp(argv[i], "--help") == 0)
			return statusHelp(invocationName);
		else if (strcmp(argv[i], "--version") == 0) {
			printVersion();
			return 0;
		}
		else
			return statusUsage(invocationName, "unknown argument");
	}
	// The user's own directory, else the machine's, where the system's
	// watcher runs: an ordinary user asks after it as often as after one
	// of their own.
	static Reading own;
	static Reading machine;
	Reading *r = &own;
	char why[1200];
	if (given)
		snprintf(own.dir, sizeof own.dir, "%s", given);
	else if (!defaultRuntimeDir(own.dir, sizeof own.dir, why, sizeof why)) {
		printTo(stderr, "status: no runtime directory: %s (give --runtime-dir)\n", why);
		return answerNone;
	}
	readIn(&own);
	bool looked = !given && own.seen.alive != aliveYes
		&& machineRuntimeDir(machine.dir, sizeof machine.dir, why, sizeof why) && strcmp(machine.dir, own.dir) != 0;
	if (looked) {
		readIn(&machine);
		if (machineRead(own.seen, own.there, machine.seen, machine.there))
			r = &machine;
	}
	const WatchStatus *status = r->read ? &r->status : nullptr;
	char answerWhy[2400];
	StatusAnswer answer = judgeStatus(status, r->there ? r->unread : nullptr, r->seen, r->dir, unixTimeS(), answerWhy,
		sizeof answerWhy);
	if (looked && r == &own && answer == answerNone && !own.there && own.seen.alive == aliveNo) {
		size_t used = strlen(answerWhy);
		snprintf(answerWhy + used, sizeof answerWhy - used, ", nor in %s", machine.dir);
	}
	if (json) {
		static char out[1 << 20];
		if (statusJson(status, answer, answerWhy, r->seen, r->dir, out, sizeof out))
			printOut("%s", out);
		return statusExit(answer);
	}
	// Said where it matters: another directory than the user's own.
	if (r == &machine)
		printOut("the machine's watcher, in %s:\n", r->dir);
	if (answerWhy[0])
		printOut("%s%s\n", answerWhy, status && answer == answerNone ? "; its last status:" : "");
	if (status)
		printStatus(*status);
	return statusExit(answer);
}
