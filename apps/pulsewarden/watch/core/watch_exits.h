// The exit statuses watch makes of its own, beside the tool's others
// (exit_status.h): scripts and service managers branch on them.
#pragma once

enum : int {
	exitCheckUnusable = 105, // watch: the check cannot be started at all
	exitStartTimeout = 106,  // watch: not healthy within its start timeout
	exitPidGone = 107,       // watch: the process it watched has ended
	exitDisableFailed = 108, // watch: stopped, but monitoring could not be switched off
	exitAnotherWatcher = 109, // watch: another watcher runs; two would fight over monitoring
	exitNoRuntimeDir = 110,  // watch: its runtime directory, or its lock, cannot be used
};
