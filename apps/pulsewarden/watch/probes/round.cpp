// A round's parts, started together and collected as they end; see round.h.
#include "round.h"

#include "system.h"
#include "threads.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

enum SlotState { slotIdle, slotRunning, slotDone };

// A probe's thread and its last run: the round asks, the thread answers.
struct ProbeSlot {
	Worker *worker;
	std::atomic<int> state;
	Probe probe;          // its texts the slot's own copies: a reload frees those they came from
	char *target;
	char *caFile;
	char *headersFile;
	ProbeSetting setting;
	ProbeResult result;   // the thread's until the state is slotDone
	std::atomic<bool> readingOwnInput;  // the thread reads the probe's own headers or CA file
	FileLook look;        // --file's memory of its file, the thread's
	int64_t endedNs;
};

static void runSlot(void *argument)
{
	ProbeSlot *slot = static_cast<ProbeSlot *>(argument);
	runProbe(slot->probe, slot->setting, &slot->look, &slot->result);
	slot->endedNs = bootClockNs();
	slot->state.store(slotDone);
	wakeWatcher();
}

// A run still there at its timeout: the application's, unless it hangs
// on the watcher's own file (a file system that does not answer).
static void timedOut(ProbeResult *result, const ProbeSlot *slot)
{
	*result = ProbeResult{};
	if (slot->readingOwnInput.load())
		probeOwnFault(result, "its headers or CA file has not been read within the timeout (a file system that does "
			"not answer?)");
	else
		result->timedOut = true;
}

// Set to probe `probe` while its thread waits to be asked.
static bool aim(ProbeSlot *slot, const Probe &probe, const ProbeSetting &setting)
{
	char *target = strdup(probe.target);
	char *caFile = probe.caFile ? strdup(probe.caFile) : nullptr;
	char *headersFile = probe.headersFile ? strdup(probe.headersFile) : nullptr;
	if (!target || (probe.caFile && !caFile) || (probe.headersFile && !headersFile)) {
		free(target);
		free(caFile);
		free(headersFile);
		return false;
	}
	free(slot->target);
	free(slot->caFile);
	free(slot->headersFile);
	slot->target = target;
	slot->caFile = caFile;
	slot->headersFile = headersFile;
	slot->probe = probe;
	slot->probe.target = target;
	slot->probe.caFile = caFile;
	slot->probe.headersFile = headersFile;
	slot->setting = setting;
	slot->setting.readingOwnInput = &slot->readingOwnInput;
	slot->look = FileLook{};
	return true;
}

static bool sameText(const char *a, const char *b)
{
	return a == b || (a && b && strcmp(a, b) == 0);
}

// Whether a slot probes as `probe` would: else a reload gives it another.
static bool probesAs(const ProbeSlot *slot, const Probe &probe)
{
	const Probe &p = slot->probe;
	return sameText(p.target, probe.target) && p.head == probe.head && p.expectedCount == probe.expectedCount
		&& memcmp(p.expected, probe.expected, sizeof p.expected) == 0 && sameText(p.caFile, probe.caFile)
		&& sameText(p.headersFile, probe.headersFile);
}

static ProbeSlot *newSlot(Round *round, const Probe &probe, const ProbeSetting &setting, char *why, size_t size)
{
	// A thread a reload left without a part, once its last run is over.
	for (int i = 0; i < round->retiredCount; i++) {
		ProbeSlot *slot = round->retired[i];
		if (slot->state.load() != slotRunning && aim(slot, probe, setting)) {
			slot->state.store(slotIdle);
			round->retired[i] = round->retired[--round->retiredCount];
			return slot;
		}
	}
	ProbeSlot *slot = static_cast<ProbeSlot *>(calloc(1, sizeof(ProbeSlot)));
	if (!slot || !aim(slot, probe, setting)) {
		free(slot);
		snprintf(why, size, "out of memory");
		return nullptr;
	}
	new (&slot->state) std::atomic<int>(slotIdle);
	new (&slot->readingOwnInput) std::atomic<bool>(false);
	slot->worker = startWorker(runSlot, slot, why, size);
	if (!slot->worker) {
		free(slot->target);
		free(slot->caFile);
		free(slot->headersFile);
		free(slot);
		return nullptr;
	}
	return slot;
}

static bool sameSetting(const ProbeSetting &a, const ProbeSetting &b)
{
	return a.timeoutNs == b.timeoutNs && a.maxAgeNs == b.maxAgeNs && a.insecure == b.insecure;
}

// What a probe runs with: its own, where its configuration says, else
// watch's.
static ProbeSetting settingOf(const Probe &probe, const WatchOptions &options)
{
	int64_t maxAge = probe.maxAgeNs ? probe.maxAgeNs : options.maxAgeNs ? options.maxAgeNs : options.windowNs;
	return ProbeSetting{probe.timeoutNs ? probe.timeoutNs : options.timeoutNs, maxAge, options.insecure};
}

void startRound(Round *round, const WatchOptions &options)
{
	round->running = true;
	round->startedNs = bootClockNs();
	round->programNs = 0;
	round->programDone = !options.check;
	round->programAsked = false;
	round->programUnstarted = false;
	for (int i = 0; i < options.probeCount; i++) {
		round->waiting[i] = false;
		round->partNs[i] = 0;
		if (probeAtOnce(options.probes[i], &round->results[i])) {
			round->partNs[i] = bootClockNs() - round->startedNs;
			continue;
		}
		char why[160];
		ProbeSlot *&slot = round->slots[i];
		if (!slot && !(slot = newSlot(round, options.probes[i], settingOf(options.probes[i], options), why, sizeof why))) {
			probeFailed(&round->results[i], "%s", why);
			continue;
		}
		if (slot->state.load() == slotRunning) {
			// Still in its last run, well past its timeout: not started again.
			timedOut(&round->results[i], slot);
			round->partNs[i] = options.timeoutNs;
			continue;
		}
		slot->state.store(slotRunning);
		askWorker(slot->worker);
		round->waiting[i] = true;
	}
	if (options.check) {
		round->program = spawnCheck(options.check, round->user, round->startFailure, sizeof round->startFailure);
		round->programUnstarted = round->programDone = !round->program;
	}
}

void askRoundToEnd(Round *round, const WatchOptions &options)
{
	if (round->program && !round->programDone) {
		round->programAsked = true;
		signalCheck(round->program, false);
	}
	for (int i = 0; i < options.probeCount; i++) {
		if (round->waiting[i] && round->slots[i]->state.load() != slotDone) {
			timedOut(&round->results[i], round->slots[i]);
			round->partNs[i] = bootClockNs() - round->startedNs;
			round->waiting[i] = false;
		}
	}
}

void endRound(Round *round)
{
	if (round->program && !round->programDone)
		signalCheck(round->program, true);
}

void letProgramBe(Round *round)
{
	if (round->program && !round->programDone) {
		round->programLetBe = true;
		round->programDone = true;
		round->programNs = bootClockNs() - round->startedNs;
	}
}

bool programGone(Round *round)
{
	if (!round->programLetBe || !checkExited(round->program, &round->outcome))
		return false;
	releaseCheck(round->program);
	round->program = nullptr;
	round->programLetBe = false;
	return true;
}

static bool programPassed(const Round &round)
{
	return !round.programUnstarted && round.outcome.exited && round.outcome.status == 0 && !round.programAsked;
}

// How the program ended, in the core's words.
static void programHow(const Round &round, char *how, size_t size)
{
	if (round.programUnstarted)
		snprintf(how, size, "%s", round.startFailure);
	else if (round.programLetBe)
		snprintf(how, size, "its processes cannot be ended");
	else if (round.outcome.exited)
		snprintf(how, size, "exit status %d", round.outcome.status);
	else
		describeKill(round.outcome.status, how, size);
}

static void programEnd(Round *round, CheckEnd *end)
{
	programHow(*round, round->how, sizeof round->how);
	end->passed = programPassed(*round);
	end->timedOut = round->programAsked;
	end->how = round->how;
	end->firstLine = round->programUnstarted ? "" : round->outcome.firstLine;
	end->unstarted = round->programUnstarted;
	end->stuck = round->programLetBe;
}

bool roundEnded(Round *round, const WatchOptions &options, CheckEnd *end)
{
	if (!round->running)
		return false;
	bool all = true;
	for (int i = 0; i < options.probeCount; i++) {
		if (round->waiting[i] && round->slots[i]->state.load() == slotDone) {
			round->results[i] = round->slots[i]->result;
			round->partNs[i] = round->slots[i]->endedNs - round->startedNs;
			round->waiting[i] = false;
		}
		all = all && !round->waiting[i];
	}
	if (round->program && !round->programLetBe && checkExited(round->program, &round->outcome)) {
		round->programNs = bootClockNs() - round->startedNs;
		releaseCheck(round->program);
		round->program = nullptr;
		round->programDone = true;
	}
	if (!all || !round->programDone)
		return false;
	round->running = false;
	*end = CheckEnd{};
	end->what = "";
	if (options.probeCount == 0) {
		// The program alone: the core names it already.
		programEnd(round, end);
		end->timedOut = false;
		return true;
	}
	// The application's failure is the verdict; the watcher's own fault
	// (a part that could not be checked) only where nothing failed.
	int unchecked = -1;
	for (int i = 0; i < options.probeCount; i++) {
		const ProbeResult &result = round->results[i];
		if (result.passed && !result.timedOut)
			continue;
		if (result.ownFault && !result.timedOut) {
			unchecked = unchecked < 0 ? i : unchecked;
			continue;
		}
		probeName(options.probes[i], round->what, sizeof round->what);
		snprintf(round->how, sizeof round->how, "%s", result.how);
		end->passed = false;
		end->timedOut = result.timedOut;
		end->timeoutNs = result.timedOut ? options.probes[i].timeoutNs : 0;
		end->what = round->what;
		end->how = round->how;
		end->firstLine = "";
		return true;
	}
	if (options.check) {
		programEnd(round, end);
		if (!end->passed)
			snprintf(round->what, sizeof round->what, "%s", options.check[0]);
		end->what = end->passed ? "" : round->what;
		if (!end->passed || unchecked < 0)
			return true;
	}
	if (unchecked >= 0) {
		probeName(options.probes[unchecked], round->what, sizeof round->what);
		snprintf(round->how, sizeof round->how, "%s", round->results[unchecked].how);
		*end = CheckEnd{};
		end->how = round->how;
		end->firstLine = "";
		end->what = round->what;
		end->unstarted = true;
		return true;
	}
	end->passed = true;
	end->how = "";
	end->firstLine = "";
	return true;
}

PartRun partRun(const Round &round, const WatchOptions &options, int part, char *line, size_t size)
{
	if (part < options.probeCount) {
		const ProbeResult &r = round.results[part];
		snprintf(line, size, "%s", r.how);
		return PartRun{r.passed && !r.timedOut, r.timedOut, r.ownFault && !r.timedOut, round.partNs[part]};
	}
	char how[320];
	programHow(round, how, sizeof how);
	const char *first = round.programUnstarted ? "" : round.outcome.firstLine;
	snprintf(line, size, first[0] ? "%s: \"%s\"" : "%s", how, first);
	return PartRun{programPassed(round), round.programAsked, round.programUnstarted, round.programNs};
}

bool finishRound(Round *round, const WatchOptions &options)
{
	if (round->program) {
		round->programLetBe = false;
		signalCheck(round->program, true);
		releaseCheck(round->program);
		round->program = nullptr;
	}
	bool running = false;
	for (int i = 0; i < options.probeCount; i++)
		running = running || (round->slots[i] && round->slots[i]->state.load() == slotRunning);
	for (int i = 0; i < round->retiredCount; i++)
		running = running || round->retired[i]->state.load() == slotRunning;
	return running;
}

void regroupRound(Round *round, const WatchOptions &before, const WatchOptions &after, const int *from)
{
	ProbeSlot *slots[maxProbes] = {};
	bool kept[maxProbes] = {};
	for (int i = 0; i < after.probeCount; i++) {
		int j = from[i];
		ProbeSlot *slot = j >= 0 ? round->slots[j] : nullptr;
		if (slot && probesAs(slot, after.probes[i]) && sameSetting(slot->setting, settingOf(after.probes[i], after))) {
			slots[i] = slot;
			kept[j] = true;
		}
	}
	for (int j = 0; j < before.probeCount; j++) {
		// Full, which only a reload every instant while probes hang can
		// make it: the thread is let be.
		if (round->slots[j] && !kept[j] && round->retiredCount < maxRetired)
			round->retired[round->retiredCount++] = round->slots[j];
	}
	memcpy(round->slots, slots, sizeof slots);
}
