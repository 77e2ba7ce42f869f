// Windows: a worker is a thread waiting on an auto-reset event.
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

void endAtOnce(int status)
{
	fflush(nullptr);
	// The other threads end first, then the libraries are told.
	ExitProcess(static_cast<UINT>(status));
}
