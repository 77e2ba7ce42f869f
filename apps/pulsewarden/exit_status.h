// Exit statuses of the tool's own making. (How a library result code
// becomes an exit status depends on the system: see platform.h.)
#pragma once

enum : int {
	exitUsage = 100,    // the command line is not usable; usage was printed
	exitNoStatus = 103, // the library gave no application status
	exitInputFailed = 104, // the agent could not read its commands
	exitCheckUnusable = 105, // watch: the check cannot be started at all
	exitStartTimeout = 106,  // watch: not healthy within its start timeout
	exitPidGone = 107,       // watch: the process it watched has ended
	exitDisableFailed = 108, // watch: stopped, but monitoring could not be switched off
	exitAnotherWatcher = 109, // watch: another watcher runs; two would fight over monitoring
};
