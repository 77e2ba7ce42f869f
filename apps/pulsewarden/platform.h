// What differs between the systems the tool runs on, behind one small
// interface: platform_posix.cpp for Linux, platform_windows.cpp for Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// The first '%' of a printf format, or its terminating NUL, found as fast
// as the C library can (glibc has strchrnul; Windows' C runtime has not).
const char *findConversion(const char *format);

// The process exit status that carries a library result code.
int exitStatusForResult(int32_t result);

// One-shot runs: a reader that has gone away is one more output error,
// which must not cost the exit status.
void ignoreVanishedReader();

// The agent: with nobody left to read the dialogue, it ends.
void endWithVanishedReader();

// Before an error line: stdout's pending text goes out first. Where it goes
// into a pipe of its own (`| tee` to the terminal the error line goes to),
// its reader is given a moment to pass it on.
void flushStdoutBeforeStderr();

// After a write of stderr: out at once, where the C runtime would hold it.
void flushStderr();

// Whether input is already waiting, so that reading it would not block.
bool inputWaiting(int fd);

// Reads standard input in text mode: up to `size` bytes, waiting for them
// when there are none yet; 0 at the end of input, negative with errno set
// on failure.
long readInput(int fd, char *buffer, size_t size);

// Whether the system's text mode has already taken the carriage return out
// of each CR LF; where it has not, the reader does it.
extern const bool systemConvertsLineEnds;
