// Linux: a worker is a detached thread waiting on a condition variable,
// started with every signal blocked, so that signals stay the main
// thread's to handle. A standby is a worker that waits on a timerfd that
// each call arms and disarms: a call that ends in time wakes nobody.
#include "threads.h"

#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sys/timerfd.h>
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

struct Standby {
	int timer;  // blocking: whoever stands by waits in its read
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
	if (!standby) {
		snprintf(why, size, "cannot start a thread: %s", strerror(ENOMEM));
		return nullptr;
	}
	standby->takeOver = takeOver;
	standby->argument = argument;
	standby->timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
	if (standby->timer < 0) {
		snprintf(why, size, "cannot start a thread: %s", strerror(errno));
		free(standby);
		return nullptr;
	}
	standby->worker = startWorker(standbyMain, standby, why, size);
	if (!standby->worker) {
		close(standby->timer);
		free(standby);
		return nullptr;
	}
	askWorker(standby->worker);
	return standby;
}

static void armFor(Standby *standby, long long ns)
{
	struct itimerspec at = {};
	at.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
	at.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
	timerfd_settime(standby->timer, 0, &at, nullptr);
}

void callStarts(Standby *standby, long long ns)
{
	armFor(standby, ns > 0 ? ns : 1);
}

void callEnds(Standby *standby)
{
	armFor(standby, 0);
}

void standBy(Standby *standby)
{
	uint64_t expirations;
	while (read(standby->timer, &expirations, sizeof expirations) < 0 && errno == EINTR) {
	}
}

void endAtOnce(int status)
{
	fflush(nullptr);
	_exit(status);
}
