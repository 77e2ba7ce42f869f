// What the simulated platform needs of the system, behind one small
// interface: sim_platform_posix.cpp for Linux, sim_platform_windows.cpp for
// Windows, each of which defines what is inside the types declared here.
// Files, locks, clocks and the boot; what to make of them is the caller's.
// Every function may be called from several threads at once.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "system.h"

// Why something failed, in words, for diagnostics.
struct Reason {
	char text[256];
};

// Puts the words in `why`, cut to fit.
inline void say(Reason *why, const char *format, ...) __attribute__((format(printf, 2, 3)));

inline void say(Reason *why, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	vsnprintf(why->text, sizeof why->text, format, ap);
	va_end(ap);
}

// The separators of a path on this system.
extern const char pathSeparators[];

// Where this user's state lives when nobody says where; false, with the
// reason, when there is no such place.
bool defaultStateDirPath(char *path, size_t size, Reason *why);

// An open state directory, and the exclusive lock on it that serialises
// changes.
struct StateDir;
struct StateLock;

enum DirCreation {
	createNothing,       // readers: a missing directory is no state yet
	createDirectory,     // owner-only, its parent must exist
	createWithParents,   // the parents too (owner-only), for the default place
};

enum OpenResult { dirOpened, dirMissing, dirRefused };

// Opens the directory at `path` (as given: no trailing separator). Refused
// when it is unusable or unsafe: a symbolic link, another user's, writable
// by others, not a directory.
OpenResult openStateDir(const char *path, DirCreation creation, StateDir **dir, Reason *why);
void closeStateDir(StateDir *dir);

// Whether the directory that holds `path` exists: without it, a state
// directory named there cannot be created.
bool parentDirExists(const char *path);

// One try at the lock, without waiting: how long to wait for a busy one
// is the caller's to decide.
enum LockAttempt { lockTaken, lockBusy, lockFailed };
LockAttempt tryLockStateDir(StateDir *dir, StateLock **lock, Reason *why);
void unlockStateDir(StateLock *lock);

enum FileResult { fileRead, fileMissing, fileFailed };

// Up to `size` bytes of the state file.
FileResult readStateFile(StateDir *dir, char *text, size_t size, size_t *length, Reason *why);

// Replaces the state file with `text`, whole and durably: once it returns
// true, a power loss keeps the new state. The caller holds the lock.
bool replaceStateFile(StateDir *dir, const char *text, size_t length, Reason *why);

// The identity of this boot (the clock starts again at every boot), as
// the watcher tells it too (PULSEWARDEN_BOOT_ID stands in for the kernel's
// where set); false when it cannot be told. A heartbeat means something
// only with its boot.
bool currentBootId(char *id, size_t size, Reason *why);

// Watching a state directory for changes, without spending anything while
// nothing changes. Null when the directory cannot be watched (it does not
// exist yet, say): waitForChange then just waits out its time.
struct StateWatch;
StateWatch *watchStateDir(const char *path);
void waitForChange(StateWatch *watch, int64_t timeoutNs);
void closeStateWatch(StateWatch *watch);

