// The state directory's reset record, kept by the loop; see reset_keeper.h.
#include "reset_keeper.h"

#include "console.h"
#include "core/duration.h"
#include "files.h"
#include "publisher.h"
#include "system.h"
#include "system/runtime_dir.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static void sayKept(ResetKeeper *k, Priority priority, int kind, const char *format, ...) PRINTF_LIKE(4, 5);

static void sayKept(ResetKeeper *k, Priority priority, int kind, const char *format, ...)
{
	char line[1200];
	va_list ap;
	va_start(ap, format);
	vsnprintf(line, sizeof line, format, ap);
	va_end(ap);
	k->say(k->context, priority, kind, line);
}

// Written whole and synced with its directory: a power cut leaves the
// old record or the new one.
static KeeperWrite save(ResetKeeper *k)
{
	if (!k->usable)
		return keptNothing;
	static char text[1 << 18];
	if (!formatResetRecord(k->record, text, sizeof text)) {
		snprintf(k->why, sizeof k->why, "more resets than the file holds");
		return keptFailed;
	}
	Event written;
	publishNow(fileRecord, k->path, text, strlen(text), &written);
	if (!written.why)
		return keptWritten;
	snprintf(k->why, sizeof k->why, "%s", written.why);
	return keptFailed;
}

// Before the core runs, the keeper says its own failure.
static void saveSaid(ResetKeeper *k)
{
	if (save(k) == keptFailed)
		sayKept(k, priorityWarning, -1, "cannot keep the reset record %s: %s; a reset would not be explained after "
			"the reboot", k->path, k->why);
}

// The boot before, as the record found says it ended.
static void conclude(ResetKeeper *k)
{
	const ResetEntry &e = k->record.armed;
	char stopped[32];
	char window[32];
	localTimeOf(e.stoppedS, stopped, sizeof stopped);
	formatDuration(static_cast<int64_t>(e.windowS * 1e9), window, sizeof window);
	switch (concludeRecord(k->record, k->boot)) {
	case concludedNothing:
	case concludedSameBoot:
		return;
	case concludedReset: {
		char at[32];
		localTimeOf(resetAtS(e), at, sizeof at);
		if (e.needReset)
			sayKept(k, priorityError, messageResetConcluded, "the previous boot was most likely ended by the "
				"platform's reset, at about %s: appStateNeedReset was posted then, and the watcher was last seen "
				"%.0f s later; why: %s", at, e.seenS - e.stoppedS, e.why);
		else
			sayKept(k, priorityError, messageResetConcluded, "the previous boot was most likely ended by the "
				"platform's reset, at about %s: the last heartbeat was at %s, and the watcher was still running "
				"%.0f s later, against a window of %s; why heartbeats stopped: %s", at, stopped,
				e.seenS - e.stoppedS, window, e.why);
		addConcluded(&k->record);
		break;
	}
	case concludedNotPlatform:
		sayKept(k, priorityNotice, -1, "the previous boot ended while heartbeats were stopped, but sooner than the "
			"platform acts (last heartbeat %s, last seen %.0f s later, window %s): most likely not the platform's "
			"reset; why they had stopped: %s", stopped, e.seenS - e.stoppedS, window, e.why);
		k->record.pending = false;
		break;
	}
	saveSaid(k);
}

void openResetKeeper(ResetKeeper *k, const char *stateDir, SayKept say, void *context)
{
	k->say = say;
	k->context = context;
	char why[1200];
	if (stateDir)
		snprintf(k->dir, sizeof k->dir, "%s", stateDir);
	else if (!defaultStateDir(k->dir, sizeof k->dir, why, sizeof why)) {
		sayKept(k, priorityWarning, -1, "no state directory: %s (give --state-dir); a reset would not be "
			"explained after the reboot", why);
		return;
	}
	if (!makeStateDir(k->dir, why, sizeof why)) {
		sayKept(k, priorityWarning, -1, "%s; a reset would not be explained after the reboot", why);
		return;
	}
	if (!currentBootId(k->boot, sizeof k->boot, why, sizeof why)) {
		sayKept(k, priorityWarning, -1, "%s; a reset would not be explained after the reboot", why);
		return;
	}
	snprintf(k->path, sizeof k->path, "%s%cresets.toml", k->dir, pathSeparator);
	k->usable = true;
	if (!pathExists(k->path))
		return;
	char *text = nullptr;
	size_t length = 0;
	bool read = readWholeFile(k->path, 1 << 20, &text, &length, why, sizeof why)
		&& parseResetRecord(text, length, &k->record, why, sizeof why);
	free(text);
	if (!read) {
		// Half-written by a power cut, or someone's: no reset is made up
		// from it, and the next record replaces it.
		k->record = ResetRecord{};
		sayKept(k, priorityWarning, -1, "cannot read the reset record %s: %s; nothing is concluded from it",
			k->path, why);
		return;
	}
	conclude(k);
}

KeeperWrite keepResetRecord(ResetKeeper *k, const char *why, bool needReset, double lastHeartbeatS, int64_t windowNs,
	int64_t intervalNs)
{
	ResetEntry &e = k->record.armed;
	double now = unixTimeS();
	snprintf(e.boot, sizeof e.boot, "%s", k->boot);
	e.stoppedS = needReset || lastHeartbeatS <= 0 ? now : lastHeartbeatS;
	e.seenS = now;
	e.windowS = static_cast<double>(windowNs) / 1e9;
	e.intervalS = static_cast<double>(intervalNs) / 1e9;
	e.needReset = needReset;
	snprintf(e.why, sizeof e.why, "%s", why);
	k->record.pending = true;
	return save(k);
}

KeeperWrite takeBackResetRecord(ResetKeeper *k)
{
	if (!k->record.pending)
		return keptNothing;
	k->record.pending = false;
	return save(k);
}

KeeperWrite recordSeen(ResetKeeper *k)
{
	if (!k->record.pending)
		return keptNothing;
	k->record.armed.seenS = unixTimeS();
	return save(k);
}

KeeperWrite keepHeld(ResetKeeper *k, bool held)
{
	k->record.held = held;
	return save(k);
}

void resetsToCount(const ResetKeeper *k, const WatchOptions &o, ResetsCounted *counted)
{
	const ResetRecord &r = k->record;
	double nowS = unixTimeS();
	int64_t now = bootClockNs();
	double periodS = static_cast<double>(o.maxResetsPeriodNs) / 1e9;
	counted->count = 0;
	char *said = counted->said;
	size_t size = sizeof counted->said;
	said[0] = '\0';
	for (int i = 0; i < r.count && counted->count < maxCountedResets; i++) {
		double at = resetAtS(r.resets[i]);
		if (at <= nowS - periodS || at <= r.releasedS)
			continue;
		counted->leaves[counted->count++] = now + static_cast<int64_t>((at + periodS - nowS) * 1e9);
		// The last three, each in a few words: the line stays a line.
		if (r.count - i > 3)
			continue;
		char when[32];
		localTimeOf(at, when, sizeof when);
		size_t used = strlen(said);
		snprintf(said + used, size - used, "%s%s, %.60s", used ? "; " : "", when, r.resets[i].why);
	}
	char line[600];
	snprintf(line, sizeof line, "%d reset%s counted%s%s", counted->count, counted->count == 1 ? "" : "s",
		said[0] ? ", the last: " : "", said);
	snprintf(said, size, "%s", line);
	counted->heldAtStart = r.held && resetLimit(o) > 0;
	counted->total = r.total;
	counted->lastS = r.count > 0 ? resetAtS(r.resets[r.count - 1]) : 0;
	counted->shownCount = 0;
	for (int i = r.count > resetsShown ? r.count - resetsShown : 0; i < r.count; i++) {
		counted->shown[counted->shownCount].atS = resetAtS(r.resets[i]);
		snprintf(counted->shown[counted->shownCount].why, sizeof counted->shown[0].why, "%s", r.resets[i].why);
		counted->shownCount++;
	}
}

bool releaseRecord(const char *stateDir, char *why, size_t size)
{
	static ResetKeeper k;
	if (stateDir)
		snprintf(k.dir, sizeof k.dir, "%s", stateDir);
	else if (!defaultStateDir(k.dir, sizeof k.dir, why, size))
		return false;
	// A directory that is not there is not the one a watcher keeps its
	// record in: a hold there would stand, said released.
	char inside[sizeof k.dir + 4];
	snprintf(inside, sizeof inside, "%s%c.", k.dir, pathSeparator);
	if (!pathExists(inside)) {
		snprintf(why, size, "the state directory %s is not there", k.dir);
		return false;
	}
	snprintf(k.path, sizeof k.path, "%s%cresets.toml", k.dir, pathSeparator);
	char *text = nullptr;
	size_t length = 0;
	// Nothing kept, nothing held: nothing to release.
	if (!pathExists(k.path))
		return true;
	bool read = readWholeFile(k.path, 1 << 20, &text, &length, why, size)
		&& parseResetRecord(text, length, &k.record, why, size);
	free(text);
	if (!read)
		return false;
	k.usable = true;
	if (releaseHold(&k) != keptFailed)
		return true;
	snprintf(why, size, "cannot keep the reset record %s: %s; a reset would not be explained after the reboot", k.path,
		k.why);
	return false;
}

KeeperWrite releaseHold(ResetKeeper *k)
{
	k->record.releasedS = unixTimeS();
	k->record.held = false;
	return save(k);
}
