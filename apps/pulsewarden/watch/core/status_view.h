// pulsewarden status: what a status file read comes to, as an exit status
// that scripts branch on, and as JSON. Judged from the file, the process
// that holds the runtime directory and the time alone, so that a watcher
// that is wedged still gets an answer.
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

// `status`: the file read, or null (then `unread` says why, or is null
// when there is no file); `holder`: the process that holds the runtime
// directory `dir`, 0 for none. `why` says why the watcher's own state is
// not the answer; "" when it is.
StatusAnswer judgeStatus(const WatchStatus *status, const char *unread, long holder, const char *dir, double nowS,
	char *why, size_t size);

// The answer as one JSON object: version 1, the file's keys, each part's
// results newest last; "state" is "none" when no status was read. False
// when it does not fit.
bool statusJson(const WatchStatus *status, StatusAnswer answer, const char *why, long holder, char *text,
	size_t size);
