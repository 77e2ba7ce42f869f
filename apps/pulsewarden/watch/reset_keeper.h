// The loop's keeper of the state directory: the reset record read at the
// start and what it says of the boot before, then kept on disk as the
// core asks (core/reset_record.h says what it holds). A write that fails
// after the start is the core's to say (eventWritten): the keeper only
// tells how it went.
#pragma once

#include "core/reset_record.h"
#include "core/watch_core.h"
#include "system/service_manager.h"

#include <cstddef>
#include <cstdint>

// How the keeper's lines are said: `kind` -1 for an ordinary line.
using SayKept = void (*)(void *context, Priority priority, int kind, const char *line);

// What became of a change to the record: nothing written (nothing to
// change, or no state directory), written, or not (`why` says why).
enum KeeperWrite { keptNothing, keptWritten, keptFailed };

struct ResetKeeper {
	char dir[1024];
	char path[1100];
	char boot[64];
	bool usable;           // the directory is there and the boot is known
	char why[300];         // why the last write failed
	ResetRecord record;
	SayKept say;
	void *context;
};

// At the start, before anything is asked of the platform: the directory
// made, the record read and what it says of the boot before said first.
// A record that cannot be read is said and concludes nothing.
void openResetKeeper(ResetKeeper *k, const char *stateDir, SayKept say, void *context);
// The core's actKeepRecord: `why`, posted or heartbeats stopped, the last
// heartbeat (Unix time, 0: none) and the setting's window and interval.
KeeperWrite keepResetRecord(ResetKeeper *k, const char *why, bool needReset, double lastHeartbeatS, int64_t windowNs,
	int64_t intervalNs);
KeeperWrite takeBackResetRecord(ResetKeeper *k);
// The core's actRecordSeen: the watcher seen running in this boot.
KeeperWrite recordSeen(ResetKeeper *k);
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
