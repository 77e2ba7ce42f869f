// watch's figures for the monitoring system a fleet already runs: kept by
// the loop as things happen, and written, whole, in the Prometheus text
// format (version 0.0.4) for a node agent's textfile collector to read.
#pragma once

#include "watch_state.h"
#include "watch_options.h"

#include <cstddef>
#include <cstdint>

// One probe, or the check program: its last run and its runs so far.
struct PartFigures {
	bool ran;
	bool up;
	int64_t durationNs;
	uint64_t passes, failures, timeouts;
};

struct WatchFigures {
	PartFigures parts[maxProbes + 1];   // the probes in the order given, then the check program
	uint64_t heartbeats, heartbeatsRefused, needResetPosts;
	double lastHeartbeatS;              // Unix time; 0: none yet
	bool lastReloadFailed;              // the configuration read last did not check out
	double configReadS;                 // Unix time the one in use was read; 0: no file
	int64_t resetsTotal;                // the platform's resets concluded, across boots
	double lastResetS;                  // Unix time of the last; 0: none
	bool unchecked;                     // the check could not be started for longer than the window
	bool stuck;                         // a check that could not be ended is still there
	bool fileFailing[2];                // the metrics file, the status file: longer than the window
	bool recordUnkept;                  // the reset record cannot be kept: the brake cannot count
};

// A run of part `i` (the check program is part probeCount) has ended.
void countRun(WatchFigures *figures, int part, bool passed, bool timedOut, int64_t durationNs);

// The label of part `i`: the probe as given ("http://...",
// "tcp:HOST:PORT", "process:NAME", "service:NAME", "file:PATH"), or the
// check program's name.
void partLabel(const WatchOptions &options, int part, char *label, size_t size);

// Which part of `before` each part of `after` is (the check program is
// part probeCount): the same series, by its label, and for the check
// program the same command; -1 for a part that is new.
void matchParts(const WatchOptions &before, const WatchOptions &after, int *from);
// The figures of the parts of `after`, each taken from the part it was
// (`from`, as matchParts gives), or begun afresh.
void regroupFigures(WatchFigures *figures, const WatchOptions &after, const int *from);

// The whole file, as of `nowS` (Unix time). False when it does not fit.
bool formatMetrics(const WatchOptions &options, WatchState state, const WatchFigures &figures, double nowS,
	const char *version, char *text, size_t size);
