// What the simulated platform needs of the system, behind one small
// interface: sim_platform_posix.cpp for Linux, sim_platform_windows.cpp for
// Windows. Its state directory, the lock that serialises changes, the state
// file replaced whole on every change, and the heartbeat clock.
#pragma once

#include "sim_state.h"

#include <cstddef>
#include <cstdint>

// Where the state lives when CORVANE_SIM_STATE_DIR does not say.
bool defaultStateDirPath(char *path, size_t size);

// Heartbeat time: a clock that wall-clock changes do not move.
int64_t bootClockNs();

// The id of this boot (the clock starts again at every boot); false when
// it cannot be told. A heartbeat means something only with its boot.
bool currentBootId(char *id, size_t size);

enum : int {
	stateDirMissing = -1,  // nothing has been saved yet
	stateDirRefused = -2,  // unusable or unsafe: a symbolic link, another
	                       // owner's, writable by others, not a directory
};

// The state directory, created (owner only) when `create` is set.
// Returns a handle to it, or one of the values above.
int openStateDir(bool create);
void closeStateDir(int dirFd);

// Holds the exclusive lock on the state directory until unlocked; -1 on
// failure or when the lock stays busy too long.
int lockStateDir(int dirFd);
void unlockStateDir(int lockFd);

enum ReadResult { stateRead, stateMissing, stateDamaged };

ReadResult readState(int dirFd, SimState *state);

// Replaces the state file atomically. Caller holds the lock.
bool writeState(int dirFd, const SimState *state);

// The saved state, for those who only read it: nothing is locked or created.
inline ReadResult readSavedState(SimState *state)
{
	int dirFd = openStateDir(false);
	if (dirFd == stateDirMissing)
		return stateMissing;
	if (dirFd < 0)
		return stateDamaged;
	ReadResult found = readState(dirFd, state);
	closeStateDir(dirFd);
	return found;
}
