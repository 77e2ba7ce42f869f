// watch's command line: its options, read from one table that its usage
// and --help are written from too, then the check and its arguments (or a
// process to watch).
#pragma once

#include "duration.h"
#include "probe_target.h"

#include <cstddef>
#include <cstdint>

enum : int { maxProbes = 64 };

struct WatchOptions {
	int64_t intervalNs;
	int64_t timeoutNs;
	int64_t windowNs;      // the platform's heartbeat window, as the user says
	bool enable;           // switch monitoring on, and off again on stopping
	int fall;              // failed checks in a row before heartbeats stop
	int rise;              // passing checks in a row before they start again
	int needResetAfter;    // failed checks in a row before appStateNeedReset; 0: never
	int64_t startTimeoutNs; // 0: none
	long pid;              // the process to watch; 0: a check instead
	char **check;          // the check and its arguments, null-terminated; null: none
	Probe probes[maxProbes];
	int probeCount;
	int64_t maxAgeNs;      // --file: how old the file may be; 0: the window
	bool insecure;         // --http: no certificate check
	const char *metricsFile; // where the figures go; null: nowhere
	const char *runtimeDir;  // the watcher's lock; null: the system's default
};

// Reads the arguments after the word "watch"; the help asked for with
// --help. False, with the reason in `why`, when they are not usable.
enum WatchParse { watchUsable, watchUnusable, watchHelp };
WatchParse parseWatchOptions(int argc, char **argv, WatchOptions *options, bool *silent, char *why, size_t size);

// The usage lines, for a command line it cannot use; and the whole help.
void watchUsageText(const char *invocationName, char *text, size_t size);
void watchHelpText(const char *invocationName, char *text, size_t size);
