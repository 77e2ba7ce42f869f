// The seven operations of the monitoring library, over a simulated platform
// whose state lives in a small file and so outlives each process. It never
// prints and never ends the process: every failure is result 1, or a null
// status, or false.
#include "sim_config.h"
#include "sim_platform.h"
#include "sim_state.h"

#include <corvane-pulsewarden.h>

#include <cstdlib>
#include <cstring>

// A read-modify-write under the lock. `change` sees the old state (or a
// missing or damaged one) and returns the result; the new state is saved
// only when that result is success.
typedef TendwellResult (*StateChange)(ReadResult found, SimState *state, const void *arg);

static TendwellResult changeState(StateChange change, const void *arg)
{
	int dirFd = openStateDir(true);
	if (dirFd < 0)
		return TENDWELL_ERR_UNSPECIFIED;
	TendwellResult result = TENDWELL_ERR_UNSPECIFIED;
	int lockFd = lockStateDir(dirFd);
	if (lockFd >= 0) {
		SimState state = {};
		ReadResult found = readState(dirFd, &state);
		result = change(found, &state, arg);
		if (result == TENDWELL_OK && !writeState(dirFd, &state))
			result = TENDWELL_ERR_UNSPECIFIED;
		unlockStateDir(lockFd);
	}
	closeStateDir(dirFd);
	return result;
}

// Enable and disable need nothing of the old state, so they also mend a
// damaged one.
static TendwellResult setEnabled(ReadResult /*found*/, SimState *state, const void *enabled)
{
	*state = SimState{};
	state->enabled = *static_cast<const bool *>(enabled);
	return TENDWELL_OK;
}

// The state of an enabled platform, or the reason there is none.
static TendwellResult requireEnabled(ReadResult found, const SimState *state)
{
	if (found == stateDamaged)
		return TENDWELL_ERR_UNSPECIFIED;
	if (found == stateMissing || !state->enabled)
		return TENDWELL_ERR_NOT_ENABLED;
	return TENDWELL_OK;
}

static TendwellResult recordHeartbeat(ReadResult found, SimState *state, const void * /*arg*/)
{
	TendwellResult result = requireEnabled(found, state);
	if (result != TENDWELL_OK)
		return result;
	if (!currentBootId(state->bootId, sizeof state->bootId))
		return TENDWELL_ERR_UNSPECIFIED;
	state->heartbeatNs = bootClockNs();
	state->hasHeartbeat = true;
	return TENDWELL_OK;
}

static TendwellResult recordPostedState(ReadResult found, SimState *state, const void *text)
{
	TendwellResult result = requireEnabled(found, state);
	if (result != TENDWELL_OK)
		return result;
	const char *posted = static_cast<const char *>(text);
	if (posted && strcmp(posted, TENDWELL_APP_STATE_OK) == 0)
		state->posted = postedOk;
	else if (posted && strcmp(posted, TENDWELL_APP_STATE_NEED_RESET) == 0)
		state->posted = postedNeedReset;
	else
		return TENDWELL_ERR_UNSPECIFIED;
	return TENDWELL_OK;
}

// A status string the caller owns and hands to Tendwell_Free.
static char *ownedCopy(const char *text)
{
	size_t size = strlen(text) + 1;
	char *copy = static_cast<char *>(malloc(size));
	if (copy)
		memcpy(copy, text, size);
	return copy;
}

extern "C" {

TendwellResult Tendwell_Enable(void)
{
	static const bool on = true;
	return changeState(setEnabled, &on);
}

TendwellResult Tendwell_Disable(void)
{
	static const bool off = false;
	return changeState(setEnabled, &off);
}

TendwellResult Tendwell_MarkActive(void)
{
	return changeState(recordHeartbeat, nullptr);
}

TendwellResult Tendwell_PostAppState(const char *state)
{
	return changeState(recordPostedState, state);
}

TendwellBool Tendwell_IsEnabled(void)
{
	SimState state = {};
	return readSavedState(&state) == stateRead && state.enabled;
}

char *Tendwell_GetAppStatus(void)
{
	SimState state = {};
	switch (readSavedState(&state)) {
	case stateDamaged:
		return nullptr;
	case stateMissing:
		return ownedCopy("gray");
	case stateRead:
		break;
	}
	char bootId[bootIdSize] = "";
	if (state.enabled && state.hasHeartbeat && !currentBootId(bootId, sizeof bootId))
		return nullptr;
	return ownedCopy(appStatusOf(&state, bootId, bootClockNs(), heartbeatWindowSeconds()));
}

void Tendwell_Free(char *status)
{
	free(status);
}

}
