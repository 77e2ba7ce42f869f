#include "sim_store.h"

#include "sim_config.h"
#include "system.h"

#include <cstdio>
#include <cstring>

// `why`, headed by the state directory it is about.
static void about(const char *path, Reason *why)
{
	Reason said = *why;
	say(why, "%s: %s", path, said.text);
}

static ReadResult readFrom(StateDir *dir, SimState *state, Reason *why)
{
	// One byte more than a state can hold tells an overlong file.
	char text[stateTextMax + 1];
	size_t length = 0;
	switch (readStateFile(dir, text, sizeof text, &length, why)) {
	case fileMissing:
		*state = freshSimState();
		return stateMissing;
	case fileFailed:
		*state = freshSimState();
		return stateDamaged;
	case fileRead:
		break;
	}
	if (parseSimState(text, length, state))
		return stateRead;
	*state = freshSimState();
	say(why, "the state file is damaged (enable, disable or corvane-sim reset writes a fresh one)");
	return stateDamaged;
}

// Changes hold the lock for microseconds. Tried again and again, each
// pause longer than the last, rather than waited on: a stopped or hostile
// holder then costs a bounded wait, not a hang.
static StateLock *lockPatiently(StateDir *dir, Reason *why)
{
	const int64_t patienceNs = 10 * nsPerSecond;
	int64_t deadline = bootClockNs() + patienceNs;
	int64_t pauseNs = 20000;
	for (;;) {
		StateLock *lock = nullptr;
		switch (tryLockStateDir(dir, &lock, why)) {
		case lockTaken:
			return lock;
		case lockFailed:
			return nullptr;
		case lockBusy:
			break;
		}
		if (bootClockNs() > deadline) {
			say(why, "the lock stayed busy for %lld s", static_cast<long long>(patienceNs / nsPerSecond));
			return nullptr;
		}
		pauseFor(pauseNs);
		if (pauseNs < 5000000)
			pauseNs *= 2;
	}
}

ReadResult readSavedState(SimState *state, Reason *why)
{
	char path[statePathSize];
	bool fromEnvironment;
	*state = freshSimState();
	if (!stateDirPath(path, sizeof path, &fromEnvironment, why))
		return stateDamaged;
	StateDir *dir = nullptr;
	switch (openStateDir(path, createNothing, &dir, why)) {
	case dirMissing:
		return stateMissing;
	case dirRefused:
		about(path, why);
		return stateDamaged;
	case dirOpened:
		break;
	}
	ReadResult found = readFrom(dir, state, why);
	closeStateDir(dir);
	if (found == stateDamaged)
		about(path, why);
	return found;
}

int32_t changeSavedState(Operation op, StateChange change, const void *arg, Reason *why)
{
	const int32_t failed = 1;
	char path[statePathSize];
	bool fromEnvironment;
	if (!stateDirPath(path, sizeof path, &fromEnvironment, why))
		return failed;
	StateDir *dir = nullptr;
	// The default place may need its parents (~/.local/state); a place
	// someone named must be there already, all but its last part.
	if (openStateDir(path, fromEnvironment ? createDirectory : createWithParents, &dir, why) != dirOpened) {
		about(path, why);
		return failed;
	}
	int32_t result = failed;
	if (StateLock *lock = lockPatiently(dir, why)) {
		SimState state;
		why->text[0] = '\0';
		ReadResult found = readFrom(dir, &state, why);
		bool save = false;
		bool answered = found == stateRead && op < operationCount && state.answers[op].set;
		if (answered)
			result = state.answers[op].value;
		else
			result = change(found, &state, arg, &save, why);
		if (save) {
			char text[stateTextMax];
			size_t length = formatSimState(&state, text);
			if (length == 0) {
				say(why, "the state does not fit its file");
				result = failed;
			} else if (!replaceStateFile(dir, text, length, why)) {
				result = failed;
			}
		}
		if (result != failed || answered)
			why->text[0] = '\0';
		unlockStateDir(lock);
	}
	closeStateDir(dir);
	if (why->text[0])
		about(path, why);
	return result;
}

bool currentBootId(char *id, size_t size, Reason *why)
{
	return currentBootId(id, size, why->text, sizeof why->text);
}
