// Linux: a worker is a detached thread waiting on a condition variable,
// started with every signal blocked, so that signals stay the main
// thread's to handle.
#include "threads.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

struct Worker {
	pthread_mutex_t lock;
	pthread_cond_t asked;
	bool pending;
	void (*work)(void *);
	void *argument;
};

static void *workerMain(void *started)
{
	Worker *worker = static_cast<Worker *>(started);
	for (;;) {
		pthread_mutex_lock(&worker->lock);
		while (!worker->pending)
			pthread_cond_wait(&worker->asked, &worker->lock);
		worker->pending = false;
		pthread_mutex_unlock(&worker->lock);
		worker->work(worker->argument);
	}
	return nullptr;
}

Worker *startWorker(void (*work)(void *), void *argument, char *why, size_t size)
{
	Worker *worker = static_cast<Worker *>(calloc(1, sizeof(Worker)));
	if (!worker) {
		snprintf(why, size, "cannot start a thread: %s", strerror(ENOMEM));
		return nullptr;
	}
	pthread_mutex_init(&worker->lock, nullptr);
	pthread_cond_init(&worker->asked, nullptr);
	worker->work = work;
	worker->argument = argument;
	sigset_t all;
	sigset_t before;
	sigfillset(&all);
	pthread_sigmask(SIG_SETMASK, &all, &before);
	pthread_attr_t attributes;
	pthread_attr_init(&attributes);
	pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
	pthread_t thread;
	int error = pthread_create(&thread, &attributes, workerMain, worker);
	pthread_attr_destroy(&attributes);
	pthread_sigmask(SIG_SETMASK, &before, nullptr);
	if (error != 0) {
		free(worker);
		snprintf(why, size, "cannot start a thread: %s", strerror(error));
		return nullptr;
	}
	return worker;
}

void askWorker(Worker *worker)
{
	pthread_mutex_lock(&worker->lock);
	worker->pending = true;
	pthread_mutex_unlock(&worker->lock);
	// Woken after the lock is let go, it does not wait for it.
	pthread_cond_signal(&worker->asked);
}

void endAtOnce(int status)
{
	fflush(nullptr);
	_exit(status);
}
