// Windows: a worker is a thread waiting on an auto-reset event; a standby
// a worker waiting on a waitable timer that each call sets and cancels.
#include "threads.h"

#include "system.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

struct Worker {
	HANDLE asked;   // an auto-reset event: one more run
	void (*work)(void *);
	void *argument;
};

static DWORD WINAPI workerMain(void *started)
{
	Worker *worker = static_cast<Worker *>(started);
	while (WaitForSingleObject(worker->asked, INFINITE) == WAIT_OBJECT_0)
		worker->work(worker->argument);
	return 0;
}

Worker *startWorker(void (*work)(void *), void *argument, char *why, size_t size)
{
	Worker *worker = static_cast<Worker *>(calloc(1, sizeof(Worker)));
	if (worker) {
		worker->work = work;
		worker->argument = argument;
		worker->asked = CreateEventA(nullptr, FALSE, FALSE, nullptr);
	}
	HANDLE thread = worker && worker->asked ? CreateThread(nullptr, 0, workerMain, worker, 0, nullptr) : nullptr;
	if (!thread) {
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "cannot start a thread: %s", words);
		if (worker && worker->asked)
			CloseHandle(worker->asked);
		free(worker);
		return nullptr;
	}
	CloseHandle(thread);
	return worker;
}

void askWorker(Worker *worker)
{
	SetEvent(worker->asked);
}

struct Standby {
	HANDLE timer;  // a synchronization timer: one wait takes one expiry
	void (*takeOver)(void *);
	void *argument;
	Worker *worker;  // its thread, kept for as long as the process runs
};

static void standbyMain(void *argument)
{
	Standby *standby = static_cast<Standby *>(argument);
	for (;;) {
		standBy(standby);
		standby->takeOver(standby->argument);
	}
}

Standby *startStandby(void (*takeOver)(void *), void *argument, char *why, size_t size)
{
	Standby *standby = static_cast<Standby *>(calloc(1, sizeof(Standby)));
	if (standby) {
		standby->takeOver = takeOver;
		standby->argument = argument;
		standby->timer = CreateWaitableTimerA(nullptr, FALSE, nullptr);
	}
	if (!standby || !standby->timer) {
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "cannot start a thread: %s", words);
		free(standby);
		return nullptr;
	}
	standby->worker = startWorker(standbyMain, standby, why, size);
	if (!standby->worker) {
		CloseHandle(standby->timer);
		free(standby);
		return nullptr;
	}
	askWorker(standby->worker);
	return standby;
}

void callStarts(Standby *standby, long long ns)
{
	// Relative, in 100 ns units: negative.
	LARGE_INTEGER due;
	due.QuadPart = -(ns / 100 > 0 ? ns / 100 : 1);
	SetWaitableTimer(standby->timer, &due, 0, nullptr, nullptr, FALSE);
}

void callEnds(Standby *standby)
{
	CancelWaitableTimer(standby->timer);
}

void standBy(Standby *standby)
{
	WaitForSingleObject(standby->timer, INFINITE);
}

void endAtOnce(int status)
{
	fflush(nullptr);
	// The other threads end first, then the libraries are told.
	ExitProcess(static_cast<UINT>(status));
}
