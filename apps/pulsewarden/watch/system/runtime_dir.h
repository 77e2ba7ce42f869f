// The watcher's runtime directory and the lock in it, one watcher a
// directory; and the lock that makes a watcher the one of the machine
// (of the user, for a user's own), wherever its runtime directory is: two
// would fight over monitoring, one's heartbeats hiding the other's stop. runtime_dir_posix.cpp for Linux,
// runtime_dir_windows.cpp for Windows.
#pragma once

#include <cstddef>

// Where it is unless --runtime-dir says: /run/pulsewarden for root,
// $XDG_RUNTIME_DIR/pulsewarden (or /tmp/pulsewarden-UID) for others; on
// Windows %ProgramData%\pulsewarden for a service and an elevated
// administrator, %LOCALAPPDATA%\pulsewarden for others.
bool defaultRuntimeDir(char *path, size_t size, char *why, size_t whySize);

enum LockResult { lockHeld, lockHeldByAnother, lockFailed };

// Makes the directory if it is not there (for the user alone where it is
// a user's), refuses one that another user could have put there, and
// takes its lock for as long as the process runs, with the process's id
// in it. Held by another watcher: its process id in `holder` (0 when it
// has not written it yet, or it cannot be read).
LockResult lockRuntimeDir(const char *dir, long *holder, char *why, size_t size);
// The machine's lock for its one watcher: monitoring.lock
// in the default runtime directory, whatever --runtime-dir says, or the
// file PULSEWARDEN_LOCK names (a full path: tests name their own).
bool monitoringLockPath(char *path, size_t size, char *why, size_t whySize);
// Takes it as lockRuntimeDir takes a directory's, making and judging the
// directory that holds it as a runtime directory; the watcher's runtime
// directory is written in it after its process id.
LockResult lockMonitoring(const char *path, const char *runtimeDir, long *holder, char *why, size_t size);
// The process id of the watcher that holds the machine's lock, and the
// runtime directory it wrote there (where it is asked to reload or
// release, whatever the files name now); 0 when none does.
long machineWatcher(char *dir, size_t size);
// The process id of the watcher that holds the directory's lock; 0, with
// why, when none does, or when that cannot be told.
long runningWatcher(const char *dir, char *why, size_t size);

// What a directory's lock shows whoever looks.
enum Holding { holdingNone, holdingHeld, holdingUntold };
// Whether a watcher holds the directory's lock, with its process id in
// `pid` (0, with why, when it has not written it yet); untold, with why,
// when the lock is there but not this user's to look at (the machine's
// watcher's, for an ordinary user): never taken for a lock nobody holds.
Holding watcherHolding(const char *dir, long *pid, char *why, size_t size);
// The machine's runtime directory, where the system's watcher runs
// (/run/pulsewarden; on Windows %ProgramData%\pulsewarden), whoever asks:
// the one the machine's lock names when it can be read, else the one that
// holds that lock (PULSEWARDEN_LOCK's, for tests).
bool machineRuntimeDir(char *path, size_t size, char *why, size_t whySize);

// Whether the directory is kept in memory (tmpfs, ramfs, as /run is):
// a write there never waits on a disk, and nothing there outlives a boot.
bool runtimeDirInMemory(const char *dir);

// When process `pid` started, as text that tells it from a later process
// given the same id: false, with why, when the system does not say.
bool processStart(long pid, char *text, size_t size, char *why, size_t whySize);
enum ProcessSeen { processRuns, processEnded, processUntold };
// Whether process `pid` runs and is the one that started at `start`
// (processStart's text); untold, with why, when this user cannot tell.
ProcessSeen processSeen(long pid, const char *start, char *why, size_t size);
// Asks that watcher to read its configuration again (SIGHUP). False, with
// why, when it cannot be asked.
bool askToReload(long pid, char *why, size_t size);

// The state directory, what outlives a reboot, unless --state-dir says:
// the unit's StateDirectory= ($STATE_DIRECTORY), /var/lib/pulsewarden for
// root, $XDG_STATE_HOME/pulsewarden (or ~/.local/state/pulsewarden) for
// others; on Windows the runtime directory's places.
bool defaultStateDir(char *path, size_t size, char *why, size_t whySize);
// Makes it, and the directories above it, if they are not there, and
// refuses one that is not the watcher's to trust, as the runtime
// directory's.
bool makeStateDir(const char *dir, char *why, size_t size);
