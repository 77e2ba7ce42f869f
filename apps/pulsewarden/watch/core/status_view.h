// pulsewarden status: what a status file read comes to, as an exit status
// that scripts branch on, and as JSON. Judged from the file, the process
// that holds the runtime directory (or, for a reader who may not look at
// its lock, the process the file names) and the time alone, so that a
// watcher that is wedged still gets an answer.
#pragma once

#include "status_file.h"

#include <cstddef>

enum StatusAnswer {
	answerHealthy = 0,
	answerFailing = 1,   // failing, or starting
	answerPaused = 2,    // monitoring off
	answerNone = 3,      // no watcher runs, or its status is older than three intervals
	answerUnchecked = 4, // healthy as far as checks went, but nothing can be checked (the watcher's own fault)
};

// The exit status of pulsewarden status for an answer: unchecked is 1, as
// failing is, so that scripts that branch on 0 see it.
int statusExit(StatusAnswer answer);

// Whether the watcher runs, as its reader could tell: by the lock it
// holds, or, where the lock is not the reader's to open, by the process
// its status names.
enum Alive { aliveNo, aliveYes, aliveUntold };
struct Liveness {
	Alive alive;
	long pid;         // the watcher's process: the lock's holder, or the status's; 0: not known
	const char *why;  // untold: why not
};

// Asked with no --runtime-dir: whether the machine's directory (where the
// system's watcher runs) is read instead of the user's own, each with
// whether its watcher runs and whether a status file is there. The
// user's own comes first, unless nothing runs there and the machine's
// watcher may, or nothing was ever there.
bool machineRead(const Liveness &own, bool ownThere, const Liveness &machine, bool machineThere);

// `status`: the file read, or null (then `unread` says why, or is null
// when there is no file); `seen`: whether the watcher of the runtime
// directory `dir` runs. `why` says why the watcher's own state is not the
// answer; "" when it is.
StatusAnswer judgeStatus(const WatchStatus *status, const char *unread, const Liveness &seen, const char *dir,
	double nowS, char *why, size_t size);

// The answer as one JSON object: version 1, the runtime directory read,
// the file's keys, each part's results newest last; "state" is "none"
// when no status was read, "alive" null when it cannot be told. False
// when it does not fit.
bool statusJson(const WatchStatus *status, StatusAnswer answer, const char *why, const Liveness &seen,
	const char *dir, char *text, size_t size);
