// Linux: the exit status keeps 8 bits, SIGPIPE announces a vanished
// reader, and text mode is the reader's own business.
#include "platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <stdio_ext.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

// Whether stdout is a pipe that stderr does not share: what goes in there
// reaches a terminal only when its reader passes it on.
static bool stdoutIsAPipeOfItsOwn()
{
	static int own = -1;
	if (own < 0) {
		struct stat out;
		struct stat err;
		own = fstat(STDOUT_FILENO, &out) == 0 && S_ISFIFO(out.st_mode)
			&& !(fstat(STDERR_FILENO, &err) == 0 && err.st_dev == out.st_dev && err.st_ino == out.st_ino);
	}
	return own != 0;
}

void flushStdoutBeforeStderr()
{
	if (__fpending(stdout) == 0)
		return;
	fflush(stdout);
	if (!stdoutIsAPipeOfItsOwn())
		return;
	// Nothing signals an emptied pipe: look each millisecond until the
	// reader has taken the text, for at most 50, so that a reader busy
	// elsewhere cannot hold the error line up for long.
	const struct timespec millisecond = {0, 1000000};
	int unread;
	for (int i = 0; i < 50 && ioctl(STDOUT_FILENO, FIONREAD, &unread) == 0 && unread > 0; i++)
		nanosleep(&millisecond, nullptr);
}

// stderr is unbuffered: a write is out.
void flushStderr()
{
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
