// The loop's keeper of the state directory: the reset record read at the
// start and what it says of the boot before, then kept on disk as the
// core asks (core/reset_record.h says what it holds). Its file is made at
// its full size at the start, so that a disk that fills later cannot
// refuse a write; each write goes into one of its two slots in turn, in
// place. After the start the publisher's thread writes it, and its
// outcome is the core's to say (eventWritten): the keeper only tells how
// it went.
#pragma once

#include "core/reset_record.h"
#include "core/watch_core.h"
#include "files.h"
#include "publisher.h"
#include "system/service_manager.h"

#include <cstddef>
#include <cstdint>

// How the keeper's lines are said: `kind` -1 for an ordinary line.
using SayKept = void (*)(void *context, Priority priority, int kind, const char *line);

// What became of a change to the record: nothing written (nothing to
// change, or nowhere to keep it), written, or not (`why` says why), or
// handed to the publisher, whose eventWritten tells.
enum KeeperWrite { keptNothing, keptWritten, keptFailed, keptHanded };

// The file and the slot written last: the writer's alone (the publisher's
// thread, once it writes the record).
struct RecordSlots {
	FixedFile *file;
	uint64_t sequence;
	char bytes[recordSlotSize];
};

struct ResetKeeper {
	char dir[1024];
	char path[1100];
	char boot[64];
	bool read;             // the record was read (or found unreadable, and counted so)
	bool usable;           // the record can be kept
	char unkept[1500];     // why it cannot be, for the core to say; "" when it can
	char why[300];         // why the last write failed
	ResetRecord record;
	RecordSlots slots;
	Publisher *publisher;  // null: written on the caller's thread
	SayKept say;
	void *context;
};

// At the start, before anything is asked of the platform: the directory
// made, the record read (one of the older one-file kind once, for good)
// and what it says of the boot before said first, and the file made at
// its full size if it is not. A record that cannot be read is said,
// concludes nothing, and is counted as --max-resets's limit of resets.
void openResetKeeper(ResetKeeper *k, const char *stateDir, SayKept say, void *context);
// From here on the publisher writes each change off the caller's thread.
void writeKeptBy(ResetKeeper *k, Publisher *publisher);
// The core's actKeepRecord and actRecordSeen, with the setting's window
// and interval.
KeeperWrite keepResetRecord(ResetKeeper *k, const Action &a, int64_t windowNs, int64_t intervalNs);
KeeperWrite takeBackResetRecord(ResetKeeper *k);
KeeperWrite recordSeen(ResetKeeper *k, const Action &a);
// The hold, on disk: begun or ended.
KeeperWrite keepHeld(ResetKeeper *k, bool held);
// --release: resets so far forgiven, a hold ended.
KeeperWrite releaseHold(ResetKeeper *k);
// --release with no watcher running: the record in `stateDir` (null: the
// default) changed as the watcher would change it. False, with why.
bool releaseRecord(const char *stateDir, char *why, size_t size);
// What the core needs of the resets for --max-resets and shows of them:
// when each counted one leaves its period (on the boot clock), a line
// that names them, whether a hold from before stands, the total and the
// last ones.
void resetsToCount(const ResetKeeper *k, const WatchOptions &options, ResetsCounted *counted);
// What the core is told of the record at the start (WatchSetting).
void recordAtStart(const ResetKeeper *k, WatchSetting *setting);
