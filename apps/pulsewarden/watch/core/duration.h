// Durations as watch reads and writes them: "500ms", "10s", "2min", "1h",
// "1d", and as a line says them, "10 s".
#pragma once

#include <cstddef>
#include <cstdint>

enum : int64_t {
	nsPerMs = 1000000,
	nsPerS = 1000 * nsPerMs,
	maxDurationNs = 30LL * 24 * 3600 * nsPerS, // thirty days: no schedule needs more
};

// A whole number with ms, s, min (or m), h or d (a space before the unit
// allowed, as formatDuration writes it), or a bare number of seconds;
// positive, at most thirty days. Null when it is one, else why it is not.
const char *durationProblem(const char *text, int64_t *ns);

// As a person reads it: "500 ms", "10 s", "2 min", "1 h", "1 d".
void formatDuration(int64_t ns, char *text, size_t size);
