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
};

extern Command currentCommand;
extern const char *commandWord;   // the argument that named the command
extern const char *commandOperand; // postAppState's state, as typed
extern int watchArgCount;          // watch: the arguments after its word
extern char **watchArgs;

// Reads the arguments after the invocation name; sets silentMode for the
// options. False when the command line is not usable. Everything after
// the word "watch" is watch's own, left unread for it.
bool scanCommandLine(int argc, char **argv);
