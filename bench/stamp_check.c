/*
 * A health check for the benchmark of watch against a shell loop: it
 * appends the moment it started (boot-time clock, nanoseconds) to the file
 * STAMP_FILE names, takes the milliseconds its argument says, and passes.
 */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char **argv)
{
	struct timespec now;
	clock_gettime(CLOCK_BOOTTIME, &now);
	const char *file = getenv("STAMP_FILE");
	FILE *stamps = file ? fopen(file, "a") : NULL;
	if (stamps) {
		fprintf(stamps, "%lld\n", (long long)now.tv_sec * 1000000000 + now.tv_nsec);
		fclose(stamps);
	}
	long ms = argc > 1 ? atol(argv[1]) : 0;
	struct timespec pause = {ms / 1000, (ms % 1000) * 1000000};
	nanosleep(&pause, NULL);
	return 0;
}
