#include "line_input.h"

#include "platform.h"

#include <cerrno>
#include <cstdio>

static int refill(LineInput *in)
{
	if (in->ended)
		return endOfInput;
	// Flush only when the read would wait: piped scripts get large writes.
	if (!inputWaiting(in->fd))
		fflush(stdout);
	long n = readInput(in->fd, in->block, sizeof in->block);
	if (n <= 0) {
		in->ended = true;
		// A closed standard input holds no commands, like /dev/null.
		in->error = n < 0 && errno != EBADF ? errno : 0;
		return endOfInput;
	}
	in->pos = 1;
	in->len = static_cast<size_t>(n);
	return static_cast<unsigned char>(in->block[0]);
}

static inline int nextByte(LineInput *in)
{
	if (in->pos < in->len)
		return static_cast<unsigned char>(in->block[in->pos++]);
	return refill(in);
}

int readCommandLine(LineInput *in)
{
	int c = nextByte(in);
	if (c == endOfInput)
		return endOfInput;

	int command = '\n';
	bool heldCarriageReturn = false; // dropped if the newline follows it
	for (; c != endOfInput && c != '\n'; c = nextByte(in)) {
		if (heldCarriageReturn)
			command = '\r';
		heldCarriageReturn = c == '\r' && !systemConvertsLineEnds;
		if (!heldCarriageReturn)
			command = c;
	}
	if (c == endOfInput && heldCarriageReturn)
		command = '\r';
	return command;
}
