#pragma once

#include "line_input.h"

// The interactive agent: a menu, one command letter per input line, until
// "q" or the end of input ends the process with status 0, or input that
// cannot be read ends it with exitInputFailed.
[[noreturn]] void runAgent();

// One turn of the dialogue: the menu, one line, its command. False when the
// agent is to end: "q", or no more input (or a failed read).
bool agentStep(LineInput *in);
