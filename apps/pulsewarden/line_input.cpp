#include "line_input.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

static bool inputWaiting(int fd)
{
	struct pollfd p = {fd, POLLIN, 0};
	return poll(&p, 1, 0) != 0;
}

static int refill(LineInput *in)
{
	if (in->ended)
		return endOfInput;
	// Flush only when the read would wait: piped scripts get large writes.
	if (!inputWaiting(in->fd))
		fflush(stdout);
	ssize_t n;
	do
		n = read(in->fd, in->block, sizeof in->block);
	while (n < 0 && errno == EINTR);
	if (n <= 0) {
		in->ended = true;
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
		heldCarriageReturn = c == '\r';
		if (!heldCarriageReturn)
			command = c;
	}
	if (c == endOfInput && heldCarriageReturn)
		command = '\r';
	return command;
}
