/*
 * The least C program that wakes on a schedule, and, given a check, the
 * least that does what watch -- CHECK does: at each deadline, "interval"
 * ms apart, it starts the check (posix_spawn, as the C library starts a
 * program at its cheapest), waits for its end, and sends a heartbeat when
 * it passed. Prints the CPU time in ms a tick of the ticks after the
 * first, its checks' included.
 *
 *   ticker TICKS INTERVAL_MS [CHECK ARG...]
 */
#include <corvane-pulsewarden.h>

#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

static double cpuMs(void)
{
	struct rusage self, children;
	getrusage(RUSAGE_SELF, &self);
	getrusage(RUSAGE_CHILDREN, &children);
	return (self.ru_utime.tv_sec + self.ru_stime.tv_sec + children.ru_utime.tv_sec + children.ru_stime.tv_sec) * 1e3
		+ (self.ru_utime.tv_usec + self.ru_stime.tv_usec + children.ru_utime.tv_usec + children.ru_stime.tv_usec) / 1e3;
}

int main(int argc, char **argv)
{
	if (argc < 3)
		return 2;
	long ticks = atol(argv[1]);
	long intervalNs = atol(argv[2]) * 1000000L;
	char **check = argc > 3 ? argv + 3 : NULL;
	struct timespec at;
	clock_gettime(CLOCK_MONOTONIC, &at);
	double first = 0;
	for (long i = 0; i < ticks; i++) {
		pid_t pid;
		int status;
		if (check && posix_spawn(&pid, check[0], NULL, NULL, check, environ) == 0 && waitpid(pid, &status, 0) == pid
			&& WIFEXITED(status) && WEXITSTATUS(status) == 0)
			Tendwell_MarkActive();
		if (i == 0)
			first = cpuMs();
		at.tv_nsec += intervalNs;
		at.tv_sec += at.tv_nsec / 1000000000L;
		at.tv_nsec %= 1000000000L;
		clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, NULL);
	}
	printf("%.3f\n", (cpuMs() - first) / (ticks > 1 ? ticks - 1 : 1));
	return 0;
}
