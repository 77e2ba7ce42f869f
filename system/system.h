// What both the tool and the simulated platform need of the system, written
// once: system_posix.cpp for Linux, system_windows.cpp for Windows.
#pragma once

#include <cstddef>
#include <cstdint>

// A clock for heartbeats and schedules: it counts time suspended, and no
// change of the wall clock moves it.
int64_t bootClockNs();
// The time the machine has been running, suspended time left out: against
// the boot clock, it tells a suspended machine from a late wake.
int64_t awakeClockNs();

// The wall clock now, in seconds since 1970 (Unix time).
double unixTimeS();

// The local time now, as "2026-12-07 14:03:07", or with milliseconds as
// "2026-12-07 14:03:07.250".
void localTimeText(char *text, size_t size, bool milliseconds);
// A Unix time as local time, the same way: "2026-12-07 14:03:07".
void localTimeOf(double unixS, char *text, size_t size);

// The system's words for the last error of a system call (errno, or
// GetLastError), without a final full stop.
void lastErrorText(char *text, size_t size);

// This boot of the machine: PULSEWARDEN_BOOT_ID where it is set (tests
// start "another boot" with it; the simulated platform reads it too, so
// that both sides agree), else the kernel's boot id (on Windows, the
// moment the kernel booted). False, with why, when it cannot be told.
bool currentBootId(char *id, size_t size, char *why, size_t whySize);
// The kernel's own, whatever the variable says.
bool kernelBootId(char *id, size_t size, char *why, size_t whySize);

// This process's id.
long ownProcessId();

// Sleeps for about `ns`.
void pauseFor(int64_t ns);

// A library of the system's, loaded when a feature that needs it is asked
// for: on Windows from the system's own directory only, never the
// program's or the current one. Null when it is not there.
void *loadSystemLibrary(const char *name);
// One of its functions, as a plain function pointer; null when absent.
using LibraryFunction = void (*)();
LibraryFunction libraryFunction(void *library, const char *name);

// The same, typed: false when the library lacks it.
template <typename Function>
bool findFunction(void *library, const char *name, Function *function)
{
	*function = reinterpret_cast<Function>(libraryFunction(library, name));
	return *function != nullptr;
}

// Windows: appends one argument to a command line at `at`, after a space,
// quoted the way the C runtime splits it again. False when it does not fit.
bool appendArgument(char *line, size_t size, size_t *at, const char *arg);
