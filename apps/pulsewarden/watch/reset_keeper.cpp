// The state directory's reset record, kept by the loop; see reset_keeper.h.
#include "reset_keeper.h"

#include "console.h"
#include "core/duration.h"
#include "system.h"
#include "system/runtime_dir.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static void sayKept(ResetKeeper *k, Priority priority, int kind, const char *format, ...) PRINTF_LIKE(4, 5);

static void sayKept(ResetKeeper *k, Priority priority, int kind, const char *format, ...)
{
	if (!k->say)
		return;
	char line[1200];
	va_list ap;
	va_start(ap, format);
	vsnprintf(line, sizeof line, format, ap);
	va_end(ap);
	k->say(k->context, priority, kind, line);
}

// The next slot, in place: the one before stays whole until this one is,
// so that a power cut in the middle leaves it to be read. On the
// publisher's thread once it writes the record.
static bool writeSlot(void *target, const char *path, const char *text, size_t length, char *why, size_t size)
{
	auto *s = static_cast<RecordSlots *>(target);
	uint64_t next = s->sequence + 1;
	size_t bytes = frameRecordSlot(text, length, next, s->bytes);
	if (!bytes) {
		snprintf(why, size, "more than the record holds");
		return false;
	}
	size_t at = recordSlotOf(next) * recordSlotSize;
	if (!writeInPlace(s->file, at, s->bytes, bytes, why, size)) {
		if (pathExists(path))
			return false;
		// Removed since the start: made whole again, this slot in it.
		static char made[recordFileSize];
		memset(made, 0, sizeof made);
		memcpy(made + at, s->bytes, bytes);
		FixedFile *again = openFixedFile(path, made, sizeof made, why, size);
		if (!again)
			return false;
		closeFixedFile(again);
	}
	s->sequence = next;
	return true;
}

static KeeperWrite save(ResetKeeper *k)
{
	if (!k->usable)
		return keptNothing;
	static char text[recordTextRoom];
	if (!formatResetRecord(k->record, text, sizeof text)) {
		snprintf(k->why, sizeof k->why, "more than the record holds");
		return keptFailed;
	}
	if (k->publisher) {
		publishBy(k->publisher, fileRecord, writeSlot, &k->slots, k->path, text, strlen(text));
		return keptHanded;
	}
	return writeSlot(&k->slots, k->path, text, strlen(text), k->why, sizeof k->why) ? keptWritten : keptFailed;
}

// Before the core runs, the keeper says its own failure.
static void saveSaid(ResetKeeper *k)
{
	if (save(k) == keptFailed)
		sayKept(k, priorityWarning, -1, "cannot keep the reset record %s: %s; a reset would not be explained after "
			"the reboot", k->path, k->why);
}

// The record as the state directory holds it, read from its newest whole
// slot (or once from the one file older versions kept); its file made
// whole at its full size where it is not, with what was read in it.
static void load(ResetKeeper *k)
{
	char old[1100];
	snprintf(k->path, sizeof k->path, "%s%cresets.record", k->dir, pathSeparator);
	snprintf(old, sizeof old, "%s%cresets.toml", k->dir, pathSeparator);
	const char *read = k->path;
	char why[600] = "";
	RecordFound found = recordEmpty;
	bool whole = false;
	char *bytes = nullptr;
	size_t length = 0;
	k->slots.sequence = 0;
	if (pathExists(k->path)) {
		found = !readWholeFile(k->path, 2 * recordFileSize, &bytes, &length, why, sizeof why) ? recordUnreadable
			: readRecordSlots(bytes, length, &k->record, &k->slots.sequence, why, sizeof why);
		whole = length == recordFileSize;
	} else if (pathExists(old)) {
		read = old;
		found = readWholeFile(old, 1 << 20, &bytes, &length, why, sizeof why)
				&& parseResetRecord(bytes, length, &k->record, why, sizeof why)
			? recordFound : recordUnreadable;
	}
	free(bytes);
	if (found == recordUnreadable) {
		// Half-written by a power cut, or someone's: no reset is made up
		// from it, and the brake does not forget what it may have counted.
		k->record = ResetRecord{};
		k->record.unreadS = unixTimeS();
		sayKept(k, priorityWarning, -1, "cannot read the reset record %s: %s; nothing is concluded from it, and "
			"--max-resets counts as many resets as it allows from now, for its period, until pulsewarden watch "
			"--release", read, why);
	} else if (why[0]) {
		sayKept(k, priorityNotice, -1, "the reset record %s: %s; the slot that is whole is read", read, why);
	}
	// Concluded from and counted as read, whether or not it can be
	// written: a read-only disk must not let the brake forget.
	k->read = true;
	char reason[300];
	if (whole)
		k->slots.file = openFixedFile(k->path, nullptr, recordFileSize, reason, sizeof reason);
	if (!k->slots.file) {
		// Its room taken now, once: later writes ask the disk for none.
		static char made[recordFileSize];
		static char text[recordTextRoom];
		memset(made, 0, sizeof made);
		if (found != recordEmpty && formatResetRecord(k->record, text, sizeof text)) {
			k->slots.sequence++;
			frameRecordSlot(text, strlen(text), k->slots.sequence,
				made + recordSlotOf(k->slots.sequence) * recordSlotSize);
		}
		bool there = pathExists(k->path);
		k->slots.file = openFixedFile(k->path, made, sizeof made, reason, sizeof reason);
		if (!k->slots.file) {
			snprintf(k->unkept, sizeof k->unkept, "cannot %s the reset record %s: %s", there ? "write" : "make",
				k->path, reason);
			return;
		}
	} else if (found == recordUnreadable) {
		k->usable = true;
		saveSaid(k);
	}
	if (read == old)
		removeFile(old);
	k->usable = true;
}

// The boot before, as the record found says it ended.
static void conclude(ResetKeeper *k)
{
	const ResetEntry &e = k->record.armed;
	char stopped[32];
	char window[32];
	localTimeOf(stoppedAtS(e), stopped, sizeof stopped);
	formatDuration(static_cast<int64_t>(e.windowS * 1e9), window, sizeof window);
	// Not written, it is concluded again at the next boot: said so, so that
	// whoever counts these lines counts one reset.
	const char *again = k->usable ? "" : "; said again at the next boot, as the reset record cannot be written now";
	switch (concludeRecord(k->record, k->boot)) {
	case concludedNothing:
	case concludedSameBoot:
		return;
	case concludedReset: {
		addConcluded(&k->record, unixTimeS());
		const ResetEntry &r = k->record.resets[k->record.count - 1];
		char at[32];
		localTimeOf(resetAtS(r), at, sizeof at);
		if (r.needReset)
			sayKept(k, priorityError, messageResetConcluded, "the previous boot was most likely ended by the "
				"platform's reset, at about %s: appStateNeedReset was posted then, and the watcher was last seen "
				"%.0f s later; why: %s%s", at, seenAfterS(r), r.why, again);
		else
			sayKept(k, priorityError, messageResetConcluded, "the previous boot was most likely ended by the "
				"platform's reset, at about %s: the last heartbeat was at %s, and the watcher was still running "
				"%.0f s later, against a window of %s; why heartbeats stopped: %s%s", at, stopped, seenAfterS(r),
				window, r.why, again);
		break;
	}
	case concludedNotPlatform:
		sayKept(k, priorityNotice, -1, "the previous boot ended while heartbeats were stopped, but sooner than the "
			"platform acts (last heartbeat %s, last seen %.0f s later, window %s): most likely not the platform's "
			"reset; why they had stopped: %s", stopped, seenAfterS(e), window, e.why);
		k->record.pending = false;
		break;
	}
	saveSaid(k);
}

// Where the record is kept, or why it cannot be.
static bool stateDirOf(ResetKeeper *k, const char *stateDir, char *why, size_t size)
{
	char reason[1000];
	if (stateDir)
		snprintf(k->dir, sizeof k->dir, "%s", stateDir);
	else if (!defaultStateDir(k->dir, sizeof k->dir, reason, sizeof reason)) {
		snprintf(why, size, "no state directory: %s (give --state-dir)", reason);
		return false;
	}
	return true;
}

void openResetKeeper(ResetKeeper *k, const char *stateDir, SayKept say, void *context)
{
	k->say = say;
	k->context = context;
	if (!stateDirOf(k, stateDir, k->unkept, sizeof k->unkept) || !makeStateDir(k->dir, k->unkept, sizeof k->unkept)
		|| !currentBootId(k->boot, sizeof k->boot, k->unkept, sizeof k->unkept))
		return;
	load(k);
	if (k->read)
		conclude(k);
}

void writeKeptBy(ResetKeeper *k, Publisher *publisher)
{
	k->publisher = publisher;
}

KeeperWrite keepResetRecord(ResetKeeper *k, const Action &a, int64_t windowNs, int64_t intervalNs)
{
	ResetEntry &e = k->record.armed;
	snprintf(e.boot, sizeof e.boot, "%s", k->boot);
	e.stoppedS = a.unixS;
	e.stoppedBootS = static_cast<double>(a.bootNs) / 1e9;
	e.seenS = a.seenS;
	e.seenBootS = static_cast<double>(a.seenNs) / 1e9;
	e.bootClocked = true;
	e.windowS = static_cast<double>(windowNs) / 1e9;
	e.intervalS = static_cast<double>(intervalNs) / 1e9;
	e.needReset = a.status == 1;
	snprintf(e.why, sizeof e.why, "%.*s", static_cast<int>(sizeof e.why - 1), a.text);
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

KeeperWrite recordSeen(ResetKeeper *k, const Action &a)
{
	if (!k->record.pending)
		return keptNothing;
	k->record.armed.seenS = a.seenS;
	// A record of the older kind, an earlier watcher's: the wall clock alone.
	if (k->record.armed.bootClocked)
		k->record.armed.seenBootS = static_cast<double>(a.seenNs) / 1e9;
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
	int limit = resetLimit(o);
	double at[maxCountedResets];
	counted->count = resetsCountedAt(r, nowS, periodS, limit, at, maxCountedResets);
	for (int i = 0; i < counted->count; i++)
		counted->leaves[i] = now + static_cast<int64_t>((at[i] + periodS - nowS) * 1e9);
	bool unread = limit > 0 && r.unreadS > 0 && resetCounts(r, r.unreadS, nowS, periodS);
	char *said = counted->said;
	size_t size = sizeof counted->said;
	said[0] = '\0';
	// The last three, each in a few words: the line stays a line.
	for (int i = r.count > 3 ? r.count - 3 : 0; i < r.count; i++) {
		if (!resetCounts(r, resetAtS(r.resets[i]), nowS, periodS))
			continue;
		char when[32];
		localTimeOf(resetAtS(r.resets[i]), when, sizeof when);
		size_t used = strlen(said);
		snprintf(said + used, size - used, "%s%s, %.60s", used ? "; " : "", when, r.resets[i].why);
	}
	char line[600];
	int used = snprintf(line, sizeof line, "%d reset%s counted", counted->count, counted->count == 1 ? "" : "s");
	if (unread) {
		char when[32];
		localTimeOf(r.unreadS, when, sizeof when);
		used += snprintf(line + used, sizeof line - static_cast<size_t>(used), ", as many as allowed since the reset "
			"record could not be read at %s", when);
	}
	if (said[0] && used < static_cast<int>(sizeof line))
		snprintf(line + used, sizeof line - static_cast<size_t>(used), "%s%s", unread ? "; the last concluded: "
			: ", the last: ", said);
	snprintf(said, size, "%s", line);
	counted->heldAtStart = (r.held || unread) && limit > 0;
	counted->total = r.total;
	counted->lastS = r.count > 0 ? resetAtS(r.resets[r.count - 1]) : 0;
	counted->shownCount = 0;
	for (int i = r.count > resetsShown ? r.count - resetsShown : 0; i < r.count; i++) {
		counted->shown[counted->shownCount].atS = resetAtS(r.resets[i]);
		snprintf(counted->shown[counted->shownCount].why, sizeof counted->shown[0].why, "%s", r.resets[i].why);
		counted->shownCount++;
	}
}

void recordAtStart(const ResetKeeper *k, WatchSetting *setting)
{
	const ResetEntry &e = k->record.armed;
	setting->recordStands = k->record.pending;
	setting->recordPosted = k->record.pending && e.needReset;
	setting->recordStoppedAt = k->record.pending && e.bootClocked ? static_cast<int64_t>(e.stoppedBootS * 1e9) : 0;
	snprintf(setting->recordUnkept, sizeof setting->recordUnkept, "%s", k->unkept);
}

bool releaseRecord(const char *stateDir, char *why, size_t size)
{
	static ResetKeeper k;
	if (!stateDirOf(&k, stateDir, why, size))
		return false;
	// A directory that is not there is not the one a watcher keeps its
	// record in: a hold there would stand, said released.
	char inside[sizeof k.dir + 4];
	snprintf(inside, sizeof inside, "%s%c.", k.dir, pathSeparator);
	if (!pathExists(inside)) {
		snprintf(why, size, "the state directory %s is not there", k.dir);
		return false;
	}
	char old[1100];
	snprintf(k.path, sizeof k.path, "%s%cresets.record", k.dir, pathSeparator);
	snprintf(old, sizeof old, "%s%cresets.toml", k.dir, pathSeparator);
	// Nothing kept, nothing held: nothing to release.
	if (!pathExists(k.path) && !pathExists(old))
		return true;
	load(&k);
	if (!k.usable) {
		snprintf(why, size, "%s", k.unkept);
		return false;
	}
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
