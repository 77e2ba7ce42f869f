// The command line: options, exactly one command word, and postAppState's
// operand.
#pragma once

#include <cstdint>

// A named type, so that a switch over it that forgets a command does not
// compile.
enum Command : int32_t {
	commandEnable = 0,
	commandDisable = 1,
	commandMarkActive = 2,
	commandIsEnabled = 3,
	commandGetAppStatus = 4,
	commandPostAppState = 5,
	commandRunAsAgent = 6,
	commandNone = 7,
	commandWatch = 8,
	commandService = 9,
	commandStatus = 10,
	commandHelp = 11,
};

// What the command line says, as scanCommandLine found it. The strings are
// the arguments themselves, not copies.
struct CommandLine {
	bool usable;
	Command command;
	bool silent;              // -s or --silent
	const char *word;         // the argument that named the command
	const char *operand;      // postAppState's state, as typed
	int watchArgCount;        // watch, service, status: the arguments after the word
	char **watchArgs;
};

// Reads the arguments after the invocation name. Not usable: no command,
// an unknown word, a second command, postAppState without its state.
// Everything after the word "watch" (or "service", "status") is its own,
// left unread for it.
CommandLine scanCommandLine(int argc, char **argv);
