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
		"                        gave it (default: that of a watcher started without it)\n"
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
			printOut("pulsewarden %s\n", PULSEWARDEN_VERSION);
			return 0;
		}
		else
			return statusUsage(invocationName, "unknown argument");
	}
	char dir[1024];
	char why[1200];
	if (given)
		snprintf(dir, sizeof dir, "%s", given);
	else if (!defaultRuntimeDir(dir, sizeof dir, why, sizeof why)) {
		printTo(stderr, "status: no runtime directory: %s (give --runtime-dir)\n", why);
		return answerNone;
	}
	long holder = runningWatcher(dir, why, sizeof why);
	char path[1100];
	snprintf(path, sizeof path, "%s%cstatus", dir, pathSeparator);
	char *text = nullptr;
	size_t length = 0;
	char unread[300] = "";
	static WatchStatus status;
	bool read = false;
	bool there = pathExists(path);
	if (there && readWholeFile(path, 4 << 20, &text, &length, unread, sizeof unread))
		read = parseStatusFile(text, length, &status, unread, sizeof unread);
	free(text);
	char answerWhy[1400];
	StatusAnswer answer = judgeStatus(read ? &status : nullptr, there ? unread : nullptr, holder, dir, unixTimeS(),
		answerWhy, sizeof answerWhy);
	if (json) {
		static char out[1 << 20];
		if (statusJson(read ? &status : nullptr, answer, answerWhy, holder, out, sizeof out))
			printOut("%s", out);
		return statusExit(answer);
	}
	if (answerWhy[0])
		printOut("%s%s\n", answerWhy, read && answer == answerNone ? "; its last status:" : "");
	if (read)
		printStatus(status);
	return statusExit(answer);
}
