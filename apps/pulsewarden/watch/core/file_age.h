// How old a file watched with --file is, judged so that a step of the wall
// clock (an hour forward or back, a clock set by hand) is not taken for the
// file's age: the wall clock is believed only for a file first seen or set
// back; one that changed since the last look is no older than that look,
// and one unchanged has aged by the boot clock since it was first judged.
#pragma once

#include <cstdint>

// What the probe remembers of the file between its looks.
struct FileLook {
	bool seen;
	int64_t mtimeNs;     // its modification time, as last seen
	int64_t ageNs;       // the age judged when that time was first seen
	int64_t judgedAtNs;  // when, on the boot clock
	int64_t lookedAtNs;  // the last look, on the boot clock
};

// `wallAgeNs`: the wall clock now less the file's modification time
// `mtimeNs` (negative for a time to come); `bootNowNs`: the boot clock.
int64_t fileAgeNs(FileLook *look, int64_t mtimeNs, int64_t wallAgeNs, int64_t bootNowNs);
