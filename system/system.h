// What both the tool and the simulated platform need of the system, written
// once: system_posix.cpp for Linux, system_windows.cpp for Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// A clock for heartbeats and schedules: it counts time suspended, and no
// change of the wall clock moves it.
int64_t bootClockNs();

// The local time now, as "2026-12-07 14:03:07", or with milliseconds as
// "2026-12-07 14:03:07.250".
void localTimeText(char *text, size_t size, bool milliseconds);

// The system's words for the last error of a system call (errno, or
// GetLastError), without a final full stop.
void lastErrorText(char *text, size_t size);

// Sleeps for about `ns`.
void pauseFor(int64_t ns);
