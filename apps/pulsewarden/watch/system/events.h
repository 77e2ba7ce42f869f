// What watch's loop waits on, behind one small interface: requests (to
// stop, to report), the check's process and its output, the process
// watched with --pid, and a worker's wake; events_posix.cpp for Linux,
// events_windows.cpp for Windows, each of which defines what is inside the
// types declared here.
#pragma once

#include <cstddef>
#include <cstdint>

// From now on, requests to stop (SIGTERM, SIGINT; on Windows Ctrl-C,
// Ctrl-Break, closing the console, shutdown, or requestStop), to read the
// configuration again (SIGHUP; requestReload) and to report (SIGUSR1) are
// caught, each for waitForEvents to count. `console`: on
// Windows the console's events are listened to, and checks share it;
// under the service control manager there is none.
bool catchRequests(bool console, char *why, size_t size);
// Windows, from any thread: an orderly stop, as SIGTERM asks for one; the
// configuration read again, as SIGHUP asks.
void requestStop();
void requestReload();

// Whether the check's program can be started at all: found (on the PATH,
// for a bare name) and executable, and so is a script's interpreter.
bool checkProgramUsable(const char *program, char *why, size_t size);
// Where the check program is found, as it would be started.
bool findCheckProgram(const char *program, char *path, size_t size);
// Linux: the interpreter a script's "#!" line names; false for no script.
bool scriptInterpreter(const char *script, char *interpreter, size_t size);

// A running check: its process, in a group (a job) of its own with all it
// starts, and its output.
struct Check;

struct CheckUser;

// Starts a check: standard input the null device, standard output and
// error a pipe read as it runs, no other descriptor of ours, and none of
// the service manager's variables; as `user`, with its environment, where
// one is given. Null, with the reason, when it cannot be started.
Check *spawnCheck(char *const *argv, const CheckUser *user, char *why, size_t size);

// Asks the check and everything of its group to end (SIGTERM), or, with
// `force`, ends them at once.
void signalCheck(Check *check, bool force);

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

// True once the check's process has ended, with how, and nothing of its
// group is left (Linux: what is left is killed then; a process the kernel
// holds keeps the check from ending).
bool checkExited(const Check *check, CheckOutcome *outcome);
// Collects the check's end if it has ended by now, without waiting (null:
// none runs). Called after the clock is read, it makes a deadline judged
// at that moment one that the check's end, if it came first, was seen by.
void collectCheckEnd(Check *check);

// How long the processes of the check's group alive now have waited for a
// processor since they started, in all (a starved machine's time, not the
// check's); 0 where the system does not say.
int64_t checkWaitedNs(const Check *check);

// How a check that did not exit ended, in words: "killed by signal 9
// (Killed)".
void describeKill(int signal, char *text, size_t size);

// Lets go of a check that has ended; what is left of its group is ended
// with it, so that checks never pile up.
void releaseCheck(Check *check);

// A process watched for its end. Null when it does not exist.
struct WatchedProcess;
WatchedProcess *watchProcess(long pid);
bool processGone(WatchedProcess *process);

// From any thread (a worker that has done its run): the watcher's wait
// returns, with wokeByWorker.
void wakeWatcher();

enum : unsigned {
	wokeByDeadline = 1,
	wokeByCheck = 2,      // the check ended
	wokeByStop = 4,
	wokeByReport = 8,
	wokeByProcess = 16,   // the watched process ended
	wokeByWorker = 32,    // a worker's run ended
	wokeByReload = 64,
};

struct Woken {
	unsigned events;
	int stops;            // requests to stop since the last wait
};

// Waits until `deadlineNs` on the boot clock, or until something happens;
// the check's output is read meanwhile. Returns what happened.
Woken waitForEvents(int64_t deadlineNs, Check *check, WatchedProcess *process);
