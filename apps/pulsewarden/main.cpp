// pulsewarden: drives the Corvane platform's application monitoring.
// One command word per run, performed with one library call and turned into
// console text and an exit status; or, with runAsAgent, the menu-driven agent.
#include "agent.h"
#include "console.h"
#include "exit_status.h"
#include "named_value.h"

#include <corvane-pulsewarden.h>

#include <cstring>

enum : int32_t {
	commandEnable = 0,
	commandDisable = 1,
	commandMarkActive = 2,
	commandIsEnabled = 3,
	commandGetAppStatus = 4,
	commandPostAppState = 5,
	commandRunAsAgent = 6,
	commandNone = 7,
};

static const NamedValue commandTable[] = {
	{"markActive", commandMarkActive},
	{"enable", commandEnable},
	{"disable", commandDisable},
	{"isEnabled", commandIsEnabled},
	{"getAppStatus", commandGetAppStatus},
	{"postAppState", commandPostAppState},
	{"runAsAgent", commandRunAsAgent},
	{nullptr, commandNone},
};

// getAppStatus exits with the status word's number.
static const NamedValue statusTable[] = {
	{"gray", 0},
	{"green", 1},
	{"red", 2},
	{nullptr, 3},
};

static int32_t currentCommand = commandNone;
static const char *commandWord;

static int usage(const char *invocationName)
{
	printTo(stderr, "Usage: %s {enable | disable | markActive | isEnabled | "
		"getAppStatus | postAppState [appStateOk|appStateNeedReset]}\n",
		invocationName);
	return exitUsage;
}

static int reported(int32_t result)
{
	reportResultForWord(commandWord, result);
	return exitStatusForResult(result);
}

static int isEnabled()
{
	// The byte is the exit status, read as a signed 8-bit number.
	int8_t flag = static_cast<int8_t>(Tendwell_IsEnabled());
	if (!silentMode)
		printOut("%s\n", flag ? "true" : "false");
	return flag;
}

static int getAppStatus()
{
	char *status = Tendwell_GetAppStatus();
	if (!status)
		return exitNoStatus;
	if (!silentMode)
		printOut("%s\n", status);
	int32_t value = lookupNamedValue(statusTable, status);
	Tendwell_Free(status);
	return value;
}

static int perform(const char *operand)
{
	switch (currentCommand) {
	case commandEnable:
		return reported(Tendwell_Enable());
	case commandDisable:
		return reported(Tendwell_Disable());
	case commandMarkActive:
		return reported(Tendwell_MarkActive());
	case commandPostAppState:
		return reported(Tendwell_PostAppState(operand));
	case commandIsEnabled:
		return isEnabled();
	case commandGetAppStatus:
		return getAppStatus();
	default:
		runAgent();
	}
}

int main(int argc, char **argv)
{
	// execve() may pass no arguments at all; the usage line still needs a name.
	const char *invocationName = argc > 0 ? argv[0] : "pulsewarden";
	const char *operand = nullptr;

	for (int i = 1; i < argc; i++) {
		const char *arg = argv[i];
		if (strcmp(arg, "--silent") == 0 || strcmp(arg, "-s") == 0) {
			silentMode = true;
			continue;
		}
		if (currentCommand != commandNone)
			return usage(invocationName);
		currentCommand = lookupNamedValue(commandTable, arg);
		if (currentCommand == commandNone)
			return usage(invocationName);
		commandWord = arg;
		if (currentCommand == commandPostAppState) {
			// The operand is taken as typed, even if it reads like an option.
			if (++i == argc)
				return usage(invocationName);
			operand = argv[i];
		}
	}
	if (currentCommand == commandNone)
		return usage(invocationName);
	return perform(operand);
}
