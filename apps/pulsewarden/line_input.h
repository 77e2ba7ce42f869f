// The agent's input: one command per line, read in large blocks and in
// constant memory, however long a line is.
#pragma once

#include <cstddef>

struct LineInput {
	int fd;
	bool ended;     // a read found the end of input, or failed
	int error;      // why it failed (an errno value); 0 at the end of input
	                // and when there is no input at all (a closed descriptor)
	size_t pos;
	size_t len;
	char block[65536];
};

enum : int { endOfInput = -1 };

// The command of the next line: the last character before its newline, or
// the newline itself for an empty line. A carriage return right before the
// newline is not part of the line. A last line without a newline still
// counts; after it, and on a failed read (see `error`), returns endOfInput.
// Input that is not there yet is waited for, also on a non-blocking
// descriptor.
// Before a read that would wait for input, stdout is flushed, so that
// whoever drives the agent sees the menu it is to answer.
int readCommandLine(LineInput *in);
