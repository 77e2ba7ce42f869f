#include "command_line.h"

#include "console.h"
#include "named_value.h"

#include <cstring>

static const NamedValue commandTable[] = {
	{"markActive", commandMarkActive},
	{"enable", commandEnable},
	{"disable", commandDisable},
	{"isEnabled", commandIsEnabled},
	{"getAppStatus", commandGetAppStatus},
	{"postAppState", commandPostAppState},
	{"runAsAgent", commandRunAsAgent},
	{"watch", commandWatch},
	{nullptr, commandNone},
};

Command currentCommand = commandNone;
const char *commandWord;
const char *commandOperand;
int watchArgCount;
char **watchArgs;

bool scanCommandLine(int argc, char **argv)
{
	currentCommand = commandNone;
	for (int i = 1; i < argc; i++) {
		const char *arg = argv[i];
		if (strcmp(arg, "--silent") == 0 || strcmp(arg, "-s") == 0) {
			silentMode = true;
			continue;
		}
		if (currentCommand != commandNone)
			return false;
		currentCommand = static_cast<Command>(lookupNamedValue(commandTable, arg));
		if (currentCommand == commandNone)
			return false;
		commandWord = arg;
		if (currentCommand == commandWatch) {
			watchArgCount = argc - i - 1;
			watchArgs = argv + i + 1;
			return true;
		}
		if (currentCommand == commandPostAppState) {
			// The operand is taken as typed, even if it reads like an option.
			if (++i == argc)
				return false;
			commandOperand = argv[i];
		}
	}
	return currentCommand != commandNone;
}
