// What is asked of the watcher that runs, from another process: watch
// --reload and service reload (the files read again, and its answer
// waited for), and watch --release (the resets counted forgiven). Each
// waits for the watcher's answer in its runtime directory, never on the
// watcher itself, which may be wedged.
#include "requests.h"

#include "config.h"
#include "console.h"
#include "core/watch_options.h"
#include "files.h"
#include "reset_keeper.h"
#include "system.h"
#include "system/events.h"
#include "system/runtime_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The watcher asked of: the one that holds the directory named, else the
// machine's, wherever it runs, since files edited since its start may name
// another directory than it was started with. Its directory in `dir`.
static long watcherAt(const char *named, bool given, char *dir, size_t size, char *why, size_t whySize)
{
	snprintf(dir, size, "%s", named);
	long pid = runningWatcher(named, why, whySize);
	// A directory the command line gives is the one meant: another
	// watcher may run beside the machine's, for a test.
	char running[1024];
	long machine = pid || given ? 0 : machineWatcher(running, sizeof running);
	if (!machine || strcmp(running, named) == 0)
		return pid;
	printTo(stderr, "watch: no watcher runs in %s; process %ld, the machine's, runs in %s (runtime_dir changes with a "
		"restart), and is asked there\n", named, machine, running);
	snprintf(dir, size, "%s", running);
	return runningWatcher(dir, why, whySize);
}

int reloadWatcher(const char *named, bool given, bool (*ask)(void *context, long pid, char *why, size_t size),
	void *context)
{
	char why[1200];
	char defaultDir[1024];
	if (!named && !defaultRuntimeDir(defaultDir, sizeof defaultDir, why, sizeof why)) {
		printTo(stderr, "watch: no runtime directory: %s\n", why);
		return 1;
	}
	char dir[1024];
	long pid = watcherAt(named ? named : defaultDir, given, dir, sizeof dir, why, sizeof why);
	if (!pid) {
		printTo(stderr, "watch: %s\n", why);
		return 1;
	}
	unsigned before = 0;
	char how[900];
	reloadAnswer(dir, &before, how, sizeof how);
	if (!ask(context, pid, why, sizeof why)) {
		printTo(stderr, "watch: %s\n", why);
		return 1;
	}
	// A reload waits for the round under way, which lasts the timeout at
	// most; a library that hangs holds none of it up.
	int64_t deadline = bootClockNs() + 120 * nsPerS;
	while (bootClockNs() < deadline) {
		unsigned count = 0;
		if (reloadAnswer(dir, &count, how, sizeof how) && count != before) {
			// Applied, with the keys that wait for a restart, if any.
			if (strncmp(how, "applied", 7) == 0) {
				if (how[7])
					printTo(stderr, "watch: %s\n", how);
				return 0;
			}
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

// The faults of the files read, kept to be said where they decide.
static char faultsRead[4096];

static void faultKept(const char *line, bool /*refused*/, void * /*context*/)
{
	size_t used = strlen(faultsRead);
	snprintf(faultsRead + used, sizeof faultsRead - used, "watch: %s\n", line);
}

// Where the watcher asked of is: the directories the command line names,
// else those the files it names (--config) do, as far as they read, else
// the defaults. `whole`: the files read whole; else their faults are kept.
static bool whereItIs(const WatchOptions &line, char *dir, size_t size, const char **stateDir, bool *whole)
{
	const char *runtimeDir = line.runtimeDir;
	*stateDir = line.stateDir;
	*whole = true;
	if (line.config) {
		static WatchConfig files;
		startConfig(&files);
		faultsRead[0] = '\0';
		*whole = loadConfig(line.config, &files, faultKept, nullptr);
		runtimeDir = runtimeDir ? runtimeDir : files.options.runtimeDir;
		*stateDir = *stateDir ? *stateDir : files.options.stateDir;
	}
	char why[1200];
	if (runtimeDir)
		snprintf(dir, size, "%s", runtimeDir);
	else if (!defaultRuntimeDir(dir, size, why, sizeof why)) {
		printTo(stderr, "watch: no runtime directory: %s (give --runtime-dir)\n", why);
		return false;
	}
	return true;
}

char *releaseFailure(const char *path)
{
	char *text = nullptr;
	size_t length = 0;
	char why[200];
	size_t mark = strlen(releaseFailedMark);
	if (!readWholeFile(path, 1024, &text, &length, why, sizeof why) || strncmp(text, releaseFailedMark, mark) != 0) {
		free(text);
		return nullptr;
	}
	text[strcspn(text, "\n")] = '\0';
	memmove(text, text + mark, strlen(text + mark) + 1);
	return text;
}

// watch --release: the watcher that runs takes the request at its next
// wake, at its next tick at the latest, and answers by taking it away;
// with none running, the record is changed here.
int releaseAsked(const WatchOptions &line)
{
	char named[1024];
	char dir[1024];
	char why[1200];
	const char *stateDir;
	bool whole;
	if (!whereItIs(line, named, sizeof named, &stateDir, &whole))
		return 1;
	// Files read in part may name another directory than the watcher's.
	if (!whole) {
		printTo(stderr, "%s", faultsRead);
		return 1;
	}
	long pid = watcherAt(named, line.runtimeDir, dir, sizeof dir, why, sizeof why);
	if (!pid) {
		if (!releaseRecord(stateDir, why, sizeof why)) {
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
		// Taken, but the record that forgives could not be written: a
		// restart would hold again.
		if (char *failure = releaseFailure(path)) {
			removeFile(path);
			printTo(stderr, "watch: cannot release: process %ld %s; it counts no reset before now until it ends\n",
				pid, failure);
			free(failure);
			return 1;
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
int reloadAsked(const WatchOptions &line)
{
	char dir[1024];
	const char *stateDir;
	bool whole;
	if (!whereItIs(line, dir, sizeof dir, &stateDir, &whole))
		return 1;
	// Files that do not read whole are asked of the watcher all the same,
	// where they name one: it refuses them, said where its lines and
	// figures say it. Else their faults are the answer.
	char why[1200];
	if (!whole && !runningWatcher(dir, why, sizeof why)) {
		printTo(stderr, "%s", faultsRead);
		return 1;
	}
	auto bySignal = [](void *, long pid, char *reason, size_t size) { return askToReload(pid, reason, size); };
	return reloadWatcher(dir, line.runtimeDir, bySignal, nullptr);
}
