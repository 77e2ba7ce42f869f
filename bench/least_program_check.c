/*
 * The least C program doing what watch -- CHECK does: at each deadline,
 * "interval" ms apart, it starts the check (posix_spawn, as the C library
 * starts a program at its cheapest), waits for its end, and sends a
 * heartbeat when it passed. Prints, as ticker does, the CPU time in ms a
 * tick of the ticks after the first, its checks' included.
 *
 *   least_program_check TICKS INTERVAL_MS CHECK [ARG...]
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
	if (argc < 4)
		return 2;
	long ticks = atol(argv[1]);
	long intervalNs = atol(argv[2]) * 1000000L;
	struct timespec at;
	clock_gettime(CLOCK_MONOTONIC, &at);
	double first = 0;
	for (long i = 0; i < ticks; i++) {
		pid_t pid;
		int status;
		if (posix_spawn(&pid, argv[3], NULL, NULL, argv + 3, environ) == 0 && waitpid(pid, &status, 0) == pid
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
