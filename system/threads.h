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

// A thread that stands by while another is in a call that may hang (the
// platform's library): once a call has lasted `ns` without ending, the
// standby runs `takeOver(argument)`, and then stands by again. A thread
// held up in a call so can take its turn to stand by (standBy): what
// stands by is whichever is not running the caller's work. Null, with
// why, when no thread can be started.
struct Standby;
Standby *startStandby(void (*takeOver)(void *), void *argument, char *why, size_t size);
// A call starts: whoever stands by is woken once `ns` have passed, unless
// callEnds comes first. No thread is woken for a call that ends in time.
void callStarts(Standby *standby, long long ns);
void callEnds(Standby *standby);
// The calling thread stands by until a call outlasts its time; it may be
// woken for one that ended just then, which its caller tells.
void standBy(Standby *standby);

// Ends the process with `status` now, its output flushed, without the
// exit handlers that would take libraries (libcurl's TLS, the platform's)
// from under a worker still in them.
[[noreturn]] void endAtOnce(int status);
