// What the watcher keeps in its state directory so that it outlives the
// reboot a reset causes: the reset it may be about to let happen, on disk
// before appStateNeedReset is posted, and the resets concluded in later
// boots, counted for --max-resets. TOML, written here, read with toml++,
// in one of the two slots of a file whose room is taken once, at the
// start, so that a disk that fills later cannot refuse it; what it comes
// to at a start is judged here too.
#pragma once

#include <cstddef>
#include <cstdint>

enum : int { resetsKept = 100 };

// The file: two slots, written in turn, each whole with its checksum, so
// that a power cut in the middle of one leaves the other. A slot is a
// line that names it, then the text.
enum : size_t {
	recordSlotSize = 64 * size_t{1024},
	recordFileSize = 2 * recordSlotSize,
	recordLineRoom = 128,
	recordTextRoom = recordSlotSize - recordLineRoom,
};

struct ResetEntry {
	char boot[64];         // the boot it was kept in
	double stoppedS;       // Unix time of the last heartbeat, or of appStateNeedReset posted
	double seenS;          // the last time the watcher was seen running in that boot
	// The same two on that boot's own clock, which no step of the wall
	// clock moves: what a conclusion is drawn from. Absent (bootClocked
	// false) in a record of the one-file kind older versions kept.
	double stoppedBootS;
	double seenBootS;
	double windowS;        // the platform's window then
	double intervalS;      // how often it was seen: at each tick
	bool bootClocked;
	bool needReset;        // appStateNeedReset was posted: the platform acts at once
	char why[400];         // the failing part and its line
};

struct ResetRecord {
	int64_t total;         // resets concluded, across every boot
	double releasedS;      // resets before this are forgiven: not counted toward a hold
	// When a record that could not be read was found (0: never): the
	// resets it counted are not known, so as many as --max-resets allows
	// are counted from then on, for its period, until a release.
	double unreadS;
	ResetEntry armed;
	ResetEntry resets[resetsKept];  // the last ones concluded, newest last
	int count;
	bool pending;          // `armed` stands: no heartbeat has taken it back
	bool held;             // monitoring held off for too many resets
};

// The record's text, in at most `size` bytes: the oldest resets kept are
// let go until it fits (the total still counts them). False only when
// even none fits.
bool formatResetRecord(const ResetRecord &record, char *text, size_t size);
// Reads it back; false, with why, when it is not one (cut short by a
// power cut, another version): nothing is concluded from it. The one-file
// record of older versions reads the same, without the boot's clock.
bool parseResetRecord(const char *text, size_t length, ResetRecord *record, char *why, size_t size);

// A slot's bytes in `slot`: a line that names it (its sequence, which of
// the two it is, the text's length and a checksum of all of it), then the
// text. The bytes to write; 0 when the text is longer than recordTextRoom.
size_t frameRecordSlot(const char *text, size_t length, uint64_t sequence, char *slot);
// The slot that sequence `sequence` is written to: 0 or 1, in turn.
size_t recordSlotOf(uint64_t sequence);

enum RecordFound {
	recordEmpty,        // nothing written in either slot yet
	recordFound,        // the newest slot that reads whole
	recordUnreadable,   // neither slot reads whole: why says
};
// What the file's bytes hold (`length` of them; a file cut short holds
// what its slots still hold): the newest slot that reads whole, and its
// sequence. A slot that does not read whole while the other does is
// passed over, with why (`why` empty otherwise).
RecordFound readRecordSlots(const char *bytes, size_t length, ResetRecord *record, uint64_t *sequence, char *why,
	size_t size);

enum Conclusion {
	concludedNothing,      // no reset stood when the watcher stopped
	concludedSameBoot,     // one stands from this boot: an earlier watcher's, not yet taken back
	concludedNotPlatform,  // the boot ended before the platform would have acted
	concludedReset,        // the boot most likely ended by the platform's reset
};

// What a record found at a start in boot `boot` says of the boot before:
// from the times on that boot's own clock, where the record has them.
Conclusion concludeRecord(const ResetRecord &record, const char *boot);
// How long the watcher was seen running after the last heartbeat (or the
// post), as the boot's own clock measured it where the record has it.
double seenAfterS(const ResetEntry &entry);
// The last heartbeat (or the post) in Unix time, carried back from the
// last time written by the boot's own clock, so that a step of the wall
// clock in between moves it not.
double stoppedAtS(const ResetEntry &entry);
// When the platform's reset most likely came: at once after a post, else
// a window after the last heartbeat.
double resetAtS(const ResetEntry &entry);
// The armed reset made one concluded at `nowS`: counted, kept among the
// last ones, its last heartbeat as stoppedAtS has it, and none later
// than `nowS`.
void addConcluded(ResetRecord *record, double nowS);
// Whether a reset at `atS` counts toward a hold at `nowS`: within
// `periodS`, and since the last release.
bool resetCounts(const ResetRecord &record, double atS, double nowS, double periodS);
// When each reset counted toward a hold at `nowS` was, at most `most` of
// them: a record found unreadable as `limit` resets at the time it was
// found, then those kept, oldest first; each within `periodS` and since
// the last release.
int resetsCountedAt(const ResetRecord &record, double nowS, double periodS, int limit, double *atS, int most);
