// What the watcher keeps in its state directory so that it outlives the
// reboot a reset causes: the reset it may be about to let happen, on disk
// before heartbeats stop or appStateNeedReset is posted, and the resets
// concluded in later boots, counted for --max-resets. TOML, written here,
// read with toml++; what it comes to at a start is judged here too.
#pragma once

#include <cstddef>
#include <cstdint>

enum : int { resetsKept = 100 };

struct ResetEntry {
	char boot[64];         // the boot it was kept in
	double stoppedS;       // Unix time of the last heartbeat, or of appStateNeedReset posted
	double seenS;          // the last time the watcher was seen running in that boot
	double windowS;        // the platform's window then
	double intervalS;      // how often it was seen: at each tick
	bool needReset;        // appStateNeedReset was posted: the platform acts at once
	char why[400];         // the failing part and its line
};

struct ResetRecord {
	bool pending;          // `armed` stands: no pass has taken it back
	ResetEntry armed;
	int64_t total;         // resets concluded, across every boot
	double releasedS;      // resets before this are forgiven: not counted toward a hold
	bool held;             // monitoring held off for too many resets
	int count;
	ResetEntry resets[resetsKept];  // the last ones concluded, newest last
};

// The file's text; false when it does not fit.
bool formatResetRecord(const ResetRecord &record, char *text, size_t size);
// Reads it back; false, with why, when it is not one (cut short by a
// power cut, another version): nothing is concluded from it.
bool parseResetRecord(const char *text, size_t length, ResetRecord *record, char *why, size_t size);

enum Conclusion {
	concludedNothing,      // no reset stood when the watcher stopped
	concludedSameBoot,     // one stands from this boot: an earlier watcher's, not yet taken back
	concludedNotPlatform,  // the boot ended before the platform would have acted
	concludedReset,        // the boot most likely ended by the platform's reset
};

// What a record found at a start in boot `boot` says of the boot before.
Conclusion concludeRecord(const ResetRecord &record, const char *boot);
// When the platform's reset most likely came: at once after a post, else
// a window after the last heartbeat.
double resetAtS(const ResetEntry &entry);
// The armed reset made one concluded: counted, kept among the last ones.
void addConcluded(ResetRecord *record);
// The resets counted toward a hold at `nowS`: those within `periodS`
// since the last release. `oldestS`: when the oldest of them was.
int resetsWithin(const ResetRecord &record, double nowS, double periodS, double *oldestS);
