#include "command_line.h"

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
	{"service", commandService},
	{"status", commandStatus},
	{"help", commandHelp},
	{nullptr, commandNone},
};

CommandLine scanCommandLine(int argc, char **argv)
{
	CommandLine found = {false, commandNone, false, nullptr, nullptr, 0, nullptr};
	for (int i = 1; i < argc; i++) {
		const char *arg = argv[i];
		if (strcmp(arg, "--silent") == 0 || strcmp(arg, "-s") == 0) {
			found.silent = true;
			continue;
		}
		if (found.command != commandNone)
			return found;
		found.command = static_cast<Command>(lookupNamedValue(commandTable, arg));
		if (found.command == commandNone)
			return found;
		found.word = arg;
		if (found.command == commandWatch || found.command == commandService || found.command == commandStatus) {
			found.watchArgCount = argc - i - 1;
			found.watchArgs = argv + i + 1;
			found.usable = true;
			return found;
		}
		if (found.command == commandPostAppState) {
			// The operand is taken as typed, even if it reads like an option.
			if (++i == argc)
				return found;
			found.operand = argv[i];
		}
	}
	found.usable = found.command != commandNone;
	return found;
}
