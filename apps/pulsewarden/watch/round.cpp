// A round's parts, started together and collected as they end; see round.h.
#include "round.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

// Shared by the round and the thread it runs on: whichever lets go last
// frees it, so that a probe let go of at a timeout ends in its own time.
struct ProbeRun {
	std::atomic<int> holders;
	std::atomic<bool> finished;
	Probe probe;
	ProbeSetting setting;
	ProbeResult result;
};

static void letGo(ProbeRun *run)
{
	if (run->holders.fetch_sub(1) == 1)
		free(run);
}

static void work(void *argument)
{
	ProbeRun *run = static_cast<ProbeRun *>(argument);
	runProbe(run->probe, run->setting, &run->result);
	run->finished.store(true);
	wakeWatcher();
	letGo(run);
}

static bool finished(const ProbeRun *run)
{
	return run->finished.load();
}

static void timedOut(ProbeResult *result)
{
	*result = ProbeResult{};
	result->timedOut = true;
}

void startRound(Round *round, const WatchOptions &options)
{
	round->running = true;
	round->programDone = !options.check;
	round->programAsked = false;
	round->programUnstarted = false;
	ProbeSetting setting = {options.timeoutNs, options.maxAgeNs ? options.maxAgeNs : options.windowNs,
		options.insecure};
	for (int i = 0; i < options.probeCount; i++) {
		ProbeRun *&lingering = round->lingering[i];
		if (lingering && finished(lingering)) {
			letGo(lingering);
			lingering = nullptr;
		}
		if (lingering) {
			// Still in its last run, well past its timeout: not started again.
			timedOut(&round->results[i]);
			continue;
		}
		ProbeRun *run = static_cast<ProbeRun *>(calloc(1, sizeof(ProbeRun)));
		if (!run) {
			probeFailed(&round->results[i], "out of memory");
			continue;
		}
		new (&run->holders) std::atomic<int>(2);
		new (&run->finished) std::atomic<bool>(false);
		run->probe = options.probes[i];
		run->setting = setting;
		char why[160];
		if (!startThread(work, run, why, sizeof why)) {
			probeFailed(&round->results[i], "%s", why);
			free(run);
			continue;
		}
		round->runs[i] = run;
	}
	if (options.check) {
		round->program = startCheck(options.check, round->startFailure, sizeof round->startFailure);
		round->programUnstarted = round->programDone = !round->program;
	}
}

void askRoundToEnd(Round *round, const WatchOptions &options)
{
	if (round->program && !round->programDone) {
		round->programAsked = true;
		stopCheck(round->program, false);
	}
	for (int i = 0; i < options.probeCount; i++) {
		ProbeRun *run = round->runs[i];
		if (run && !finished(run)) {
			timedOut(&round->results[i]);
			round->lingering[i] = run;
			round->runs[i] = nullptr;
		}
	}
}

void endRound(Round *round)
{
	if (round->program && !round->programDone)
		stopCheck(round->program, true);
}

// How the program ended, in the core's words.
static void programEnd(Round *round, CheckEnd *end)
{
	if (round->programUnstarted) {
		snprintf(round->how, sizeof round->how, "%s", round->startFailure);
	} else if (round->outcome.exited) {
		snprintf(round->how, sizeof round->how, "exit status %d", round->outcome.status);
	} else {
		describeKill(round->outcome.status, round->how, sizeof round->how);
	}
	end->passed = !round->programUnstarted && round->outcome.exited && round->outcome.status == 0
		&& !round->programAsked;
	end->timedOut = round->programAsked;
	end->how = round->how;
	end->firstLine = round->programUnstarted ? "" : round->outcome.firstLine;
}

bool roundEnded(Round *round, const WatchOptions &options, CheckEnd *end)
{
	if (!round->running)
		return false;
	bool all = true;
	for (int i = 0; i < options.probeCount; i++) {
		ProbeRun *run = round->runs[i];
		if (run && finished(run)) {
			round->results[i] = run->result;
			letGo(run);
			round->runs[i] = nullptr;
		}
		all = all && !round->runs[i];
	}
	if (round->program && checkEnded(round->program, &round->outcome)) {
		finishCheck(round->program);
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
	for (int i = 0; i < options.probeCount; i++) {
		const ProbeResult &result = round->results[i];
		if (result.passed && !result.timedOut)
			continue;
		probeName(options.probes[i], round->what, sizeof round->what);
		snprintf(round->how, sizeof round->how, "%s", result.how);
		end->passed = false;
		end->timedOut = result.timedOut;
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
		return true;
	}
	end->passed = true;
	end->how = "";
	end->firstLine = "";
	return true;
}

void finishRound(Round *round)
{
	if (round->program) {
		stopCheck(round->program, true);
		finishCheck(round->program);
		round->program = nullptr;
	}
	for (int i = 0; i < maxProbes; i++) {
		if (round->runs[i])
			letGo(round->runs[i]);
		if (round->lingering[i])
			letGo(round->lingering[i]);
		round->runs[i] = round->lingering[i] = nullptr;
	}
}
