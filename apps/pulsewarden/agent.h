#pragma once

#include "line_input.h"

// The interactive agent: a menu, one command letter per input line, until
// "q" or the end of input ends the process with status 0.
[[noreturn]] void runAgent();

// One turn of the dialogue: the menu, one line, its command. False when the
// agent is to end: "q", or no more input.
bool agentStep(LineInput *in);
