// Windows: the machine's own state directory (sim_machine_windows.cpp).
#pragma once

#include <cstddef>

// Whether this process keeps the machine's state: an elevated
// administrator, or a service of LocalSystem.
bool machineStateIsOurs();
// %ProgramData%\corvane-sim, as the system places ProgramData.
bool machineStatePath(char *path, size_t size);
// Creates it for Administrators and SYSTEM only; GetLastError says why not.
bool createMachineStateDir(const char *path);
// Whether it belongs to Administrators, SYSTEM or this process's user,
// and so no other user can have put it there.
bool ownedByTheMachine(const char *path);
