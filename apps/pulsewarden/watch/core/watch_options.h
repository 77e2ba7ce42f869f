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
	int64_t uncheckedLimitNs; // nothing checkable for this long, for the watcher's own fault, is a failure
	long pid;              // the process to watch; 0: a check instead
	char **check;          // the check and its arguments, null-terminated; null: none
	Probe probes[maxProbes];
	int probeCount;
	int64_t maxAgeNs;      // --file: how old the file may be; 0: the window
	bool insecure;         // --http: no certificate check
	const char *metricsFile; // where the figures go; null: nowhere
	const char *runtimeDir;  // the watcher's lock; null: the system's default
	const char *stateDir;    // what outlives a reboot; null: the system's default
	const char *checkUser;   // the user the check runs as; null: the watcher's own, as it is
	int maxResets;           // resets within the period before it holds; 0: never holds; -1: as --enable says
	int64_t maxResetsPeriodNs;
	const char *config;      // the configuration file; null: the command line alone
	bool checkConfig;        // check it all and say so, and watch nothing
	bool print;              // with checkConfig: the configuration in effect, as a file
	bool condition;          // with checkConfig: only whether the files name anything to watch, quietly
	bool reload;             // ask the running watcher to read its files again, and wait
	bool release;            // forgive the resets counted so far, and end a hold
	uint64_t given;          // the rows of optionTable the command line gave, a bit each
};

enum OptionKind {
	optionFlag,      // on when given
	optionDuration,  // D
	optionCount,     // N, 1 to 1000000
	optionPath,      // an absolute path
	optionUser,      // a user's name, kept where a path is
	optionProbe,     // a part to check, any number
	optionPid,       // a process id
	optionResets,    // N/D, or 0
	optionSilent,    // -s, as before the word watch
	optionHelp,
	optionVersion,
};

// One row an option: the parser reads its value by its kind into its
// field, the configuration file's key of the same name (without the
// dashes, '_' for '-') too, and the help shows it with its value's name.
// A help that runs to a second line continues after "\n". The nameless row
// ends the table.
struct OptionRow {
	const char *heading;     // the help's blank line and heading before it; null: none
	const char *name;
	const char *value;       // how the help names the value; null: none
	const char *help;
	bool WatchOptions::*flag;
	int64_t WatchOptions::*duration;
	int WatchOptions::*count;
	const char *WatchOptions::*path;
	OptionKind kind;
	ProbeKind probe;
	bool commandLineOnly;    // what only a person running it asks: not in a file
	bool startOnly;          // what a running watcher keeps as it started: a reload names it, waiting for a restart
};
extern const OptionRow optionTable[];

// What watch does with nothing said: a check every 10 s within 5 s, in a
// window of 30 s.
void setWatchDefaults(WatchOptions *options);
// Why `name` cannot be a user's name (letters, digits, '.', '_' and '-',
// not first, at most 32, as useradd takes them); null when it can.
const char *userNameProblem(const char *name);

// How many resets within --max-resets's period the watcher lets happen
// before it holds: as given, or 3 (in 24 h) for a watcher that owns
// monitoring; 0: it never holds.
int resetLimit(const WatchOptions &options);
// N/D ("3/24h"), or "0"; why not, or null.
const char *resetsProblem(const char *text, int *count, int64_t *periodNs);

// What a problem of the options as a whole comes from, for a file's
// fault to name the place that made it: the rows of optionTable, a bit
// each, the check, and a probe (-1: none).
struct ProblemParts {
	uint64_t rows;
	bool check;
	int probe;
};

// Why options, whatever gave them, cannot be watched with; null when they
// can. What it comes from goes to `parts` where one is given.
const char *watchOptionsProblem(const WatchOptions &options, char *why, size_t size, ProblemParts *parts = nullptr);
// What the command line gave (`given`), laid over what the files gave:
// its options win, its probes add up, its check replaces theirs. False
// when the probes come to more than maxProbes.
bool layOver(WatchOptions *files, const WatchOptions &commandLine);

// Reads the arguments after the word "watch"; the help asked for with
// --help, the version with --version. False, with the reason in `why`,
// when they are not usable.
enum WatchParse { watchUsable, watchUnusable, watchHelp, watchVersion };
WatchParse parseWatchOptions(int argc, char **argv, WatchOptions *options, bool *silent, char *why, size_t size);

// The usage lines, for a command line it cannot use; and the whole help,
// which fits in watchHelpSize with an invocation name of up to 256 bytes.
enum : size_t { watchHelpSize = 8192 };
void watchUsageText(const char *invocationName, char *text, size_t size);
void watchHelpText(const char *invocationName, char *text, size_t size);
