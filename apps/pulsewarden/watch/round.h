// A round: everything one tick checks (the probes and the check program),
// started at once, and what they came to, as the core hears it: the first
// part to fail, in the order given, names the failure. Each probe runs on
// a thread of its own; one still running when the round is asked to end
// has timed out, and is let go of (it ends by itself, within about its
// timeout).
#pragma once

#include "probe.h"
#include "watch_core.h"
#include "watch_options.h"
#include "watch_system.h"

struct ProbeRun;

struct Round {
	bool running;
	Check *program;           // the check program, while it runs
	bool programDone;
	bool programAsked;        // asked to end while it ran: it timed out
	bool programUnstarted;
	CheckOutcome outcome;
	char startFailure[320];
	ProbeRun *runs[maxProbes];      // this round's, until collected
	ProbeRun *lingering[maxProbes]; // let go of at a timeout, maybe still running
	ProbeResult results[maxProbes];
	char what[256];           // texts the round's end points at
	char how[320];
};

void startRound(Round *round, const WatchOptions &options);
// Asked by the core, at a timeout or a stop: the program politely, the
// probes let go of.
void askRoundToEnd(Round *round, const WatchOptions &options);
// The program at once.
void endRound(Round *round);
// Collects what has ended; true, with how it went, once everything has.
bool roundEnded(Round *round, const WatchOptions &options, CheckEnd *end);
// At the watcher's end: whatever runs is ended or let go of.
void finishRound(Round *round);
