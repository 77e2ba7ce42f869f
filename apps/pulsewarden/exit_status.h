// Exit statuses of the tool's own making, and how a library result code
// becomes an exit status.
#pragma once

#include <cstdint>

enum : int {
	exitUsage = 100,    // the command line is not usable; usage was printed
	exitNoStatus = 103, // the library gave no application status
};

// The result code itself, except that a failure the exit status would show
// as 0 (a code whose low 8 bits are all zero) exits with 1.
int exitStatusForResult(int32_t result);
