// What watch needs of the system, behind one small interface:
// watch_system_posix.cpp for Linux, watch_system_windows.cpp for Windows,
// each of which defines what is inside the types declared here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "system.h"

// From now on, requests to stop (SIGTERM, SIGINT; on Windows Ctrl-C,
// Ctrl-Break, closing the console, shutdown) and to report (SIGHUP) are
// caught, for waitForEvents to return. A second request to stop ends the
// process at once, and the running check with it.
bool catchRequests(char *why, size_t size);

// Whether the check's program can be started at all: found (on the PATH,
// for a bare name) and executable, and so is a script's interpreter.
bool checkProgramUsable(const char *program, char *why, size_t size);
// Windows: where the check program is found, as it would be started.
bool findCheckProgram(const char *program, char *path, size_t size);

// A running check: its process, in a group (a job) of its own with all it
// starts, and its output.
struct Check;

// Starts a check: standard input the null device, standard output and
// error a pipe read as it runs, no other descriptor of ours, and none of
// the service manager's variables. Null, with
// the reason, when it cannot be started.
Check *startCheck(char *const *argv, char *why, size_t size);

// Asks the check and everything of its group to end (SIGTERM), or, with
// `force`, ends them at once.
void stopCheck(Check *check, bool force);

struct CheckOutcome {
	bool exited;     // else killed by a signal (an exception on Windows)
	int status;      // the exit status, or the signal
	char firstLine[208]; // the first line it printed, cut at 200 bytes
};

// What the system files do with what a check prints: keep its first line,
// cut at 200 bytes, and let the rest go.
struct FirstLine {
	size_t length;
	bool done;
};
inline void keepFirstLine(CheckOutcome *outcome, FirstLine *line, const char *bytes, size_t n)
{
	for (size_t i = 0; i < n && !line->done; i++) {
		if (bytes[i] == '\n' || line->length == 200)
			line->done = true;
		else if (bytes[i] != '\r')
			outcome->firstLine[line->length++] = bytes[i];
	}
}

// True once the check has ended, with how.
bool checkEnded(const Check *check, CheckOutcome *outcome);

// How a check that did not exit ended, in words: "killed by signal 9
// (Killed)".
void describeKill(int signal, char *text, size_t size);

// Lets go of a check that has ended; what is left of its group is ended
// with it, so that checks never pile up.
void finishCheck(Check *check);

// A process watched for its end. Null when it does not exist.
struct WatchedProcess;
WatchedProcess *watchProcess(long pid);
bool processGone(WatchedProcess *process);

// A thread that runs `work(argument)` each time it is asked to, for as
// long as the watcher runs; no request to stop or report is delivered to
// it. Null, with why, when no thread can be started.
struct Worker;
Worker *startWorker(void (*work)(void *), void *argument, char *why, size_t size);
// Asked again while it works, it works once more after.
void askWorker(Worker *worker);

// Ends the process with `status` now, its output flushed, without the
// exit handlers that would take libraries (libcurl's TLS, say) from under
// a probe's thread still in them.
[[noreturn]] void endAtOnce(int status);

// From any thread: the watcher's wait returns, with wokeByProbe.
void wakeWatcher();

enum : unsigned {
	wokeByDeadline = 1,
	wokeByCheck = 2,      // the check ended
	wokeByStop = 4,
	wokeByReport = 8,
	wokeByProcess = 16,   // the watched process ended
	wokeByProbe = 32,     // a probe's run ended
};

// Waits until `deadlineNs` on the schedule's clock, or until something
// happens; the check's output is read meanwhile. Returns what happened.
unsigned waitForEvents(int64_t deadlineNs, Check *check, WatchedProcess *process);

// The service manager's notification socket (NOTIFY_SOCKET): nothing
// without one. The period of its watchdog (WATCHDOG_USEC), 0 for none.
void notifyServiceManager(const char *message);
int64_t serviceWatchdogNs();

// Whether standard error is the journal (JOURNAL_STREAM names it): lines
// then carry a priority prefix rather than the time.
bool stderrIsJournal();

// The wall clock now, in seconds since 1970 (Unix time).
double unixTimeS();

// Replaces the file at `path` with `text`, whole: written beside it (as
// PATH.tmp) and renamed over it, so that a reader sees the old file or the
// new one, never half of either. Mode 0644 on Linux.
bool replaceFile(const char *path, const char *text, size_t length, char *why, size_t size);
// Whether replaceFile can work there: a file can be made beside the path.
bool canReplaceFile(const char *path, char *why, size_t size);
void removeFile(const char *path);

// A service manager that is not reached through NOTIFY_SOCKET: Windows'
// service control manager, whose service (service_run_windows.cpp) sets
// it before watch starts. It is told what systemd would be (READY=1,
// STOPPING=1, STATUS=...), its log takes the lines that would go to
// stderr, and `ended` hears the exit status before the process ends.
struct ServiceManager {
	void (*notify)(const char *message);
	void (*log)(int priority, const char *line);
	void (*ended)(int status);
};
// Windows: from now on watch serves `manager`; no console is listened to.
void serveServiceManager(const ServiceManager *manager);
// Windows, from any thread: an orderly stop, as SIGTERM asks for one.
void requestStop();
// Hands a line to the service manager's log: false when there is none
// (it then goes to stderr).
bool logToServiceManager(int priority, const char *line);
