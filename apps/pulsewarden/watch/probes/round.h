// A round: everything one tick checks (the probes and the check program),
// started at once, and what they came to, as the core hears it: the first
// part to fail, in the order given, names the failure. Each probe has a
// thread of its own, kept from round to round; one still running when the
// round is asked to end has timed out, and is not waited for (it ends by
// itself, within about its timeout, and is not started again before).
#pragma once

#include "probe.h"

#include "core/watch_core.h"
#include "core/watch_options.h"
#include "system/events.h"

struct ProbeSlot;
enum : int { maxRetired = 4 * maxProbes };

struct Round {
	bool running;
	const CheckUser *user;    // whom the check program runs as; null: the watcher
	Check *program;           // the check program, while it runs
	bool programDone;
	bool programAsked;        // asked to end while it ran: it timed out
	bool programUnstarted;
	bool programLetBe;        // killed and still there: kept in sight, not waited for

	CheckOutcome outcome;
	char startFailure[320];
	ProbeSlot *slots[maxProbes];    // each probe's thread, from its first round on
	ProbeSlot *retired[maxRetired]; // threads of parts a reload removed, for new parts to take
	int retiredCount;
	bool waiting[maxProbes];        // for this round's run of it
	ProbeResult results[maxProbes];
	char what[256];           // texts the round's end points at
	char how[320];
	int64_t startedNs;
	int64_t partNs[maxProbes];  // how long each probe took
	int64_t programNs;
};

// How one part of a round that has ended went: part probeCount is the
// check program. Its line: how a probe went ("status 503"), how the
// program ended with the first line it printed.
struct PartRun {
	bool passed;
	bool timedOut;
	bool unchecked;       // nothing was checked, for the watcher's own fault
	int64_t durationNs;
};
PartRun partRun(const Round &round, const WatchOptions &options, int part, char *line, size_t size);

void startRound(Round *round, const WatchOptions &options);
// Between two rounds, for a configuration applied: each part of `after`
// keeps the thread of the part it was (`from`, as matchParts gives) when
// it is probed as it was; the others' threads are kept for new parts.
void regroupRound(Round *round, const WatchOptions &before, const WatchOptions &after, const int *from);
// Asked by the core, at a timeout or a stop: the program politely; the
// probes are not waited for.
void askRoundToEnd(Round *round, const WatchOptions &options);
// The program at once.
void endRound(Round *round);
// The program killed and still there (the kernel holds it): the round is
// over without it; it is kept until it has gone.
void letProgramBe(Round *round);
// The program let be has gone now: true once, when it has.
bool programGone(Round *round);
// Collects what has ended; true, with how it went, once everything has.
bool roundEnded(Round *round, const WatchOptions &options, CheckEnd *end);
// At the watcher's end: the program, if it runs, is ended. True when a
// probe is still running, which the process's exit must not pull its
// libraries from under (see endAtOnce).
bool finishRound(Round *round, const WatchOptions &options);
