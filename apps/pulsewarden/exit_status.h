// Exit statuses of the tool's own making. (How a library result code
// becomes an exit status depends on the system: see platform.h.)
#pragma once

#include "watch/core/watch_exits.h"

enum : int {
	exitUsage = 100,    // the command line is not usable; usage was printed
	exitNoStatus = 103, // the library gave no application status
	exitInputFailed = 104, // the agent could not read its commands
};
