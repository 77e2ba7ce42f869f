// Threads that work on request, and ending a process that has them: what
// watch's probes and its calls into the platform's library run on.
// threads_posix.cpp for Linux, threads_windows.cpp for Windows.
#pragma once

#include <cstddef>

// A thread that runs `work(argument)` each time it is asked to, for as
// long as the process runs; no signal is delivered to it. Null, with why,
// when no thread can be started.
struct Worker;
Worker *startWorker(void (*work)(void *), void *argument, char *why, size_t size);
// Asked again while it works, it works once more after.
void askWorker(Worker *worker);

// Ends the process with `status` now, its output flushed, without the
// exit handlers that would take libraries (libcurl's TLS, the platform's)
// from under a worker still in them.
[[noreturn]] void endAtOnce(int status);
