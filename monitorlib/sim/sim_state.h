// The simulated platform's state, as kept in its state file, and the
// application status it gives.
#pragma once

#include <cstddef>
#include <cstdint>

enum PostedState : uint8_t { postedNone, postedOk, postedNeedReset };

enum : size_t {
	bootIdSize = 64,       // room for the kernel's boot id and its NUL
	stateTextMax = 256,    // a longer state file is damaged
};

struct SimState {
	bool enabled;
	bool hasHeartbeat;     // a heartbeat since monitoring was enabled
	char bootId[bootIdSize];   // the boot the heartbeat was sent in
	int64_t heartbeatNs;   // boot-time clock of the last heartbeat
	PostedState posted;
};

// The state as text; returns its length (at most stateTextMax).
size_t formatSimState(const SimState *state, char *text);

// False for anything that is not exactly what formatSimState writes.
bool parseSimState(const char *text, size_t length, SimState *state);

// "gray", "green" or "red" at time nowNs of boot bootId.
const char *appStatusOf(const SimState *state, const char *bootId, int64_t nowNs,
	int64_t windowSeconds);
