// The seven operations of the monitoring library, over a simulated platform
// whose state lives in a small file and so outlives each process. It never
// ends the process and prints nothing unless asked to (CORVANE_SIM_DEBUG):
// every failure is result 1, or a null status, or false. What corvane-sim
// set as an operation's answer is given in its place, with no effect.
#include "sim_config.h"
#include "sim_diagnostics.h"
#include "sim_platform.h"
#include "sim_state.h"
#include "sim_store.h"

#include <corvane-pulsewarden.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Switching on starts afresh from off; an enabled platform keeps what it
// holds (the last heartbeat, a posted appStateNeedReset), or a "make sure
// monitoring is on" step would cancel the application's request for a
// reset. The window a process asks for, if any, becomes the platform's.
// Switching off forgets the heartbeat and the posted state. Both mend a
// damaged state, and both keep the platform's settings: its window and
// corvane-sim's answers.
static TendwellResult setEnabled(ReadResult found, SimState *state, const void *on, bool *save, Reason *why)
{
	bool enable = *static_cast<const bool *>(on);
	int64_t windowNs = state->windowNs;
	if (enable && windowFromEnvironment(&windowNs) == windowInvalid) {
		say(why, "CORVANE_SIM_HEARTBEAT_TIMEOUT=%.64s is not a positive number of seconds",
			getenv("CORVANE_SIM_HEARTBEAT_TIMEOUT"));
		return TENDWELL_ERR_UNSPECIFIED;
	}
	bool keep = enable && found == stateRead && state->enabled;
	if (keep && windowNs == state->windowNs)
		return TENDWELL_OK;
	if (!keep) {
		SimState fresh = freshSimState();
		memcpy(fresh.answers, state->answers, sizeof fresh.answers);
		*state = fresh;
	}
	state->enabled = enable;
	state->windowNs = windowNs;
	*save = true;
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

static TendwellResult recordHeartbeat(ReadResult found, SimState *state, const void * /*arg*/, bool *save,
	Reason *why)
{
	TendwellResult result = requireEnabled(found, state);
	if (result != TENDWELL_OK)
		return result;
	if (!currentBootId(state->bootId, sizeof state->bootId, why))
		return TENDWELL_ERR_UNSPECIFIED;
	state->heartbeatNs = bootClockNs();
	state->hasHeartbeat = true;
	*save = true;
	return TENDWELL_OK;
}

static TendwellResult recordPostedState(ReadResult found, SimState *state, const void *text, bool *save,
	Reason *why)
{
	TendwellResult result = requireEnabled(found, state);
	if (result != TENDWELL_OK)
		return result;
	const char *posted = static_cast<const char *>(text);
	if (posted && strcmp(posted, TENDWELL_APP_STATE_OK) == 0) {
		state->posted = postedOk;
	} else if (posted && strcmp(posted, TENDWELL_APP_STATE_NEED_RESET) == 0) {
		state->posted = postedNeedReset;
	} else {
		say(why, "\"%.64s\" is not an application state",
			posted ? posted : "(null)");
		return TENDWELL_ERR_UNSPECIFIED;
	}
	*save = true;
	return TENDWELL_OK;
}

static TendwellResult changed(Operation op, StateChange change, const void *arg)
{
	Reason why = {};
	TendwellResult result = changeSavedState(op, change, arg, &why);
	reportFailure(operationNames[op], why.text);
	return result;
}

// A status string the caller owns and hands to Tendwell_Free.
static char *ownedCopy(const char *text)
{
	size_t size = strlen(text) + 1;
	char *copy = static_cast<char *>(malloc(size));
	if (copy)
		memcpy(copy, text, size);
	else
		reportFailure(operationNames[opGetAppStatus], "out of memory");
	return copy;
}

static char *appStatus()
{
	SimState state;
	Reason why = {};
	switch (readSavedState(&state, &why)) {
	case stateDamaged:
		reportFailure(operationNames[opGetAppStatus], why.text);
		return nullptr;
	case stateMissing:
		return ownedCopy("gray");
	case stateRead:
		break;
	}
	const Answer &answer = state.answers[opGetAppStatus];
	if (answer.set)
		return answer.null ? nullptr : ownedCopy(answer.word);
	char bootId[bootIdSize] = "";
	if (state.enabled && state.hasHeartbeat && !currentBootId(bootId, sizeof bootId, &why)) {
		reportFailure(operationNames[opGetAppStatus], why.text);
		return nullptr;
	}
	return ownedCopy(statusWordOf(statusReasonOf(&state, bootId, bootClockNs())));
}

extern "C" {

TendwellResult Tendwell_Enable(void)
{
	static const bool on = true;
	return changed(opEnable, setEnabled, &on);
}

TendwellResult Tendwell_Disable(void)
{
	static const bool off = false;
	return changed(opDisable, setEnabled, &off);
}

TendwellResult Tendwell_MarkActive(void)
{
	return changed(opMarkActive, recordHeartbeat, nullptr);
}

TendwellResult Tendwell_PostAppState(const char *state)
{
	return changed(opPostAppState, recordPostedState, state);
}

TendwellBool Tendwell_IsEnabled(void)
{
	SimState state;
	Reason why = {};
	switch (readSavedState(&state, &why)) {
	case stateDamaged:
		reportFailure(operationNames[opIsEnabled], why.text);
		return 0;
	case stateMissing:
		return 0;
	case stateRead:
		break;
	}
	const Answer &answer = state.answers[opIsEnabled];
	return static_cast<TendwellBool>(answer.set ? answer.value : state.enabled);
}

char *Tendwell_GetAppStatus(void)
{
	return appStatus();
}

void Tendwell_Free(char *status)
{
	free(status);
}

}
