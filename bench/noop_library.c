/*
 * The monitoring library doing nothing: fixed answers, no platform, no
 * files. The tool and the baselines run against it so that the benchmark
 * measures them, not the library. enable fails (code 3), so the failing
 * path of a command is what gets measured. With BEAT_FILE, each heartbeat
 * appends when it came (boot-time clock, nanoseconds) there, for a soak to
 * judge that none came late.
 */
#include <corvane-pulsewarden.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

TendwellResult Tendwell_Enable(void) { return TENDWELL_ERR_NOT_ENABLED; }
TendwellResult Tendwell_Disable(void) { return TENDWELL_OK; }
TendwellResult Tendwell_MarkActive(void)
{
	const char *file = getenv("BEAT_FILE");
	FILE *beats = file ? fopen(file, "a") : NULL;
	if (beats) {
		struct timespec now;
		clock_gettime(CLOCK_BOOTTIME, &now);
		fprintf(beats, "%lld\n", (long long)now.tv_sec * 1000000000 + now.tv_nsec);
		fclose(beats);
	}
	return TENDWELL_OK;
}
TendwellBool Tendwell_IsEnabled(void) { return 1; }
TendwellResult Tendwell_PostAppState(const char *state) { return state ? TENDWELL_OK : 1; }

char *Tendwell_GetAppStatus(void)
{
	char *status = malloc(sizeof "green");
	if (status)
		memcpy(status, "green", sizeof "green");
	return status;
}

void Tendwell_Free(char *status) { free(status); }
