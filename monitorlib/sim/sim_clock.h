// Heartbeat time: a clock that wall-clock changes do not move, and the boot
// it belongs to (the clock starts again at every boot).
#pragma once

#include <cstddef>
#include <cstdint>

int64_t bootClockNs();

// The kernel's id of this boot; false when it cannot be read. A heartbeat
// is only meaningful with the boot it was sent in.
bool currentBootId(char *id, size_t size);
