/*
 * An application written in C that calls the monitoring library directly:
 * switches monitoring on, sends a heartbeat, posts a state and reads the
 * status back. Exits 0 when every answer is as the platform should give.
 */
#include <corvane-pulsewarden.h>

#include <stdio.h>
#include <string.h>

static int failures;

static void expect(int ok, const char *what)
{
	if (!ok) {
		fprintf(stderr, "c_client: %s\n", what);
		failures++;
	}
}

int main(void)
{
	char *status;
	TendwellBool enabled;

	expect(Tendwell_Enable() == TENDWELL_OK, "enable failed");
	enabled = Tendwell_IsEnabled();
	expect(enabled == 1, "not enabled after enable");
	expect(Tendwell_MarkActive() == TENDWELL_OK, "heartbeat failed");
	expect(Tendwell_PostAppState(TENDWELL_APP_STATE_OK) == TENDWELL_OK, "posting appStateOk failed");
	status = Tendwell_GetAppStatus();
	expect(status && strcmp(status, "green") == 0, "status is not green");
	Tendwell_Free(status);
	Tendwell_Free(NULL);
	expect(Tendwell_PostAppState(NULL) == TENDWELL_ERR_UNSPECIFIED, "a null state was accepted");
	expect(Tendwell_Disable() == TENDWELL_OK, "disable failed");
	expect(Tendwell_MarkActive() == TENDWELL_ERR_NOT_ENABLED, "heartbeat accepted while off");
	return failures != 0;
}
