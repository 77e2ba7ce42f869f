// The simulated platform's files: its state directory, the lock that
// serialises changes, and the state file, replaced whole on every change.
#pragma once

#include "sim_state.h"

// openat() whose descriptor is never 0, 1 or 2: with a standard stream
// closed, the caller's output must not land in our files.
int openAboveStdio(int dirFd, const char *name, int flags, unsigned mode);

enum : int {
	stateDirMissing = -1,  // nothing has been saved yet
	stateDirRefused = -2,  // unusable or unsafe: a symbolic link, another
	                       // owner's, writable by others, not a directory
};

// The state directory, created (mode 0700) when `create` is set.
// Returns its descriptor, or one of the values above.
int openStateDir(bool create);

// Holds the exclusive lock on the state directory until the returned
// descriptor is closed; -1 on failure or when the lock stays busy too long.
int lockStateDir(int dirFd);

enum ReadResult { stateRead, stateMissing, stateDamaged };

ReadResult readState(int dirFd, SimState *state);

// Replaces the state file atomically. Caller holds the lock.
bool writeState(int dirFd, const SimState *state);
