// Where the simulated platform keeps its state, and its heartbeat window,
// both from the environment.
#pragma once

#include <cstddef>
#include <cstdint>

enum : int64_t {
	defaultWindowSeconds = 30,
	maxWindowSeconds = 1000000000, // keeps the window in nanoseconds in range
};

// CORVANE_SIM_STATE_DIR, else the system's default (on Linux
// $XDG_RUNTIME_DIR/corvane-sim, else /tmp/corvane-sim-<uid>). False when
// the path does not fit.
bool stateDirPath(char *path, size_t size);

// CORVANE_SIM_HEARTBEAT_TIMEOUT when it is a positive whole number, else 30.
int64_t heartbeatWindowSeconds();
