// Linux: the exit status keeps 8 bits, SIGPIPE announces a vanished
// reader, and text mode is the reader's own business.
#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <unistd.h>

const char *findConversion(const char *format)
{
	return strchrnul(format, '%');
}

// An exit status keeps only the low 8 bits, so 256 would reach a script
// as 0: a failure read as success.
int exitStatusForResult(int32_t result)
{
	if (result != 0 && (result & 0xff) == 0)
		return 1;
	return result;
}

void ignoreVanishedReader()
{
	signal(SIGPIPE, SIG_IGN);
}

void endWithVanishedReader()
{
	// As any filter does, also when the parent left SIGPIPE ignored.
	signal(SIGPIPE, SIG_DFL);
}

bool inputWaiting(int fd)
{
	struct pollfd p = {fd, POLLIN, 0};
	return poll(&p, 1, 0) != 0;
}

long readInput(int fd, char *buffer, size_t size)
{
	for (;;) {
		ssize_t n = read(fd, buffer, size);
		if (n >= 0)
			return n;
		if (errno == EAGAIN || errno == EWOULDBLOCK) {
			// A non-blocking input (as whoever started us left it) that has
			// no line yet has not ended: wait for one.
			struct pollfd p = {fd, POLLIN, 0};
			poll(&p, 1, -1);
		} else if (errno != EINTR) {
			return n;
		}
	}
}

const bool systemConvertsLineEnds = false;
