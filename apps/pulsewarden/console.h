// Console output: every line the tool writes goes through these helpers.
// Output errors are deliberately ignored; the exit status carries the outcome.
#pragma once

#include "watch/core/format_attribute.h"

#include <cstdio>

// Hides the result lines of isEnabled and getAppStatus, nothing else.
extern bool silentMode;

void printOut(const char *format, ...) PRINTF_LIKE(1, 2);
// The line each command of the tool's own answers --version with.
void printVersion();
void printTo(FILE *stream, const char *format, ...) PRINTF_LIKE(2, 3);

// Error message for a library result code; code 0 prints nothing.
void reportResultForWord(const char *word, int result);
void reportResultForLetter(char letter, int result);
