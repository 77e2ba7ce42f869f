// Windows: the exit status is the whole 32-bit code, there is no SIGPIPE,
// and the C runtime's text mode reads standard input.
#include "platform.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>

const char *findConversion(const char *format)
{
	return format + strcspn(format, "%");
}

int exitStatusForResult(int32_t result)
{
	return result;
}

// A write to a pipe without a reader simply fails; nothing to do.
void ignoreVanishedReader()
{
}

// The agent goes on until its input ends; it blocks there, never spins.
void endWithVanishedReader()
{
}

void flushStdoutBeforeStderr()
{
	fflush(stdout);
}

// The C runtime holds back what fwrite gives even an unbuffered stderr.
void flushStderr()
{
	fflush(stderr);
}

// Flush before every read: reads take what is there, in large blocks.
bool inputWaiting(int /*fd*/)
{
	return false;
}

long readInput(int fd, char *buffer, size_t size)
{
	static bool textMode = false;
	if (!textMode) {
		_setmode(fd, _O_TEXT);
		textMode = true;
	}
	return _read(fd, buffer, static_cast<unsigned>(size));
}

const bool systemConvertsLineEnds = true;
