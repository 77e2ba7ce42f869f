/*
 * The monitoring library doing nothing: fixed answers, no platform, no
 * files. The tool and the baselines run against it so that the benchmark
 * measures them, not the library. enable fails (code 3), so the failing
 * path of a command is what gets measured.
 */
#include <corvane-pulsewarden.h>

#include <stdlib.h>
#include <string.h>

TendwellResult Tendwell_Enable(void) { return TENDWELL_ERR_NOT_ENABLED; }
TendwellResult Tendwell_Disable(void) { return TENDWELL_OK; }
TendwellResult Tendwell_MarkActive(void) { return TENDWELL_OK; }
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
