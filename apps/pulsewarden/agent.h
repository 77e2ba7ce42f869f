#pragma once

#include "line_input.h"

// The interactive agent: a menu, one command letter per input line, until
// "q" or the end of input (status 0), or input that cannot be read
// (exitInputFailed, said under `word`, the command word as typed).
// Returns the exit status.
int runAgent(const char *word);

// One turn of the dialogue: the menu, one line, its command. False when the
// agent is to end: "q", or no more input (or a failed read).
bool agentStep(LineInput *in);
