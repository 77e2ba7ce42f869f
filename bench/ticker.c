/*
 * What waking on a schedule costs before anything is checked: sleeps to
 * each deadline of "ticks" ticks "interval" ms apart and prints the CPU
 * time, in ms, of the ticks after the first.
 */
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>

static double cpuMs(void)
{
	struct rusage r;
	getrusage(RUSAGE_SELF, &r);
	return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

int main(int argc, char **argv)
{
	if (argc != 3)
		return 2;
	long ticks = atol(argv[1]);
	long intervalNs = atol(argv[2]) * 1000000L;
	struct timespec at;
	clock_gettime(CLOCK_MONOTONIC, &at);
	double first = 0;
	for (long i = 0; i < ticks; i++) {
		at.tv_nsec += intervalNs;
		at.tv_sec += at.tv_nsec / 1000000000L;
		at.tv_nsec %= 1000000000L;
		clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, NULL);
		if (i == 0)
			first = cpuMs();
	}
	printf("%.3f\n", (cpuMs() - first) / (ticks > 1 ? ticks - 1 : 1));
	return 0;
}
