// Windows: the machine's own data (machine_windows.cpp), kept under
// %ProgramData% by services of LocalSystem and elevated administrators, as
// root's is kept on Linux: the simulated platform's state, the watcher's
// runtime directory. advapi32 is loaded when it is asked about, as the
// stand-in library imports nothing beyond the kernel.
#pragma once

#include <cstddef>

// Whether this process is the machine's: an elevated administrator, or a
// service of LocalSystem (Administrators enabled in its token).
bool forTheMachine();
// %ProgramData%\NAME, as the system places ProgramData.
bool machineDataPath(const char *name, char *path, size_t size);
// Creates it for Administrators and SYSTEM, and, with `usersRead`, for
// users to read; GetLastError says why not.
bool createMachineDirectory(const char *path, bool usersRead);
// Whether it belongs to Administrators, SYSTEM or this process's user,
// and so no other user can have put it there.
bool ownedByTheMachine(const char *path);
