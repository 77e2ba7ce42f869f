// Where the simulated platform keeps its state, and the heartbeat window a
// process asks for when it switches monitoring on: both from the
// environment, worked out once for each operation.
#pragma once

#include "sim_platform.h"

#include <cstddef>
#include <cstdint>

enum : size_t { statePathSize = 4096 };  // room for a state directory's path

// CORVANE_SIM_STATE_DIR, else the system's default place for this user,
// without trailing separators or "." (so that a symbolic link is one in
// every spelling). False, with the reason, when there is none.
// `fromEnvironment` tells which it was.
bool stateDirPath(char *path, size_t size, bool *fromEnvironment, Reason *why);

enum WindowSetting { windowUnset, windowSet, windowInvalid };

// CORVANE_SIM_HEARTBEAT_TIMEOUT: a positive number of seconds, decimals
// allowed.
WindowSetting windowFromEnvironment(int64_t *ns);
