// watch's configuration files, in TOML as configuration management writes
// them: their keys are watch's long options ('_' for '-'), probes arrays
// of tables, the check program a list. Read from their text alone; which
// files, in what order, is the loader's (watch/config.h).
#pragma once

#include "watch_options.h"

#include <cstddef>

enum : int { maxCheckWords = 128 };

// Where a file set a value: its path (null: no file did), the key's line
// and column, and the order the files were read in, the last winning.
struct ConfigPlace {
	const char *path;
	unsigned line;
	unsigned column;
	unsigned order;
};

// What the files said, where, and the text it points into: the options
// stay usable for as long as the configuration is kept.
struct WatchConfig {
	WatchOptions options;
	bool silent;
	char *check[maxCheckWords + 1];  // [check] command, null-terminated
	ConfigPlace optionPlaces[64];    // by the row of optionTable
	ConfigPlace checkPlace;
	ConfigPlace probePlaces[maxProbes];
	unsigned placed;
	size_t used;
	char strings[1 << 17];
};

// Starts a configuration from what watch does with nothing said.
void startConfig(WatchConfig *config);

// Reads one file's text onto `config`: its values replace those before
// it, its probes add to them, its check replaces theirs. False with
// "PATH:LINE:COLUMN: what is wrong" in `why` (a value's place, or the
// key's) when the file is not one watch can use: each fault a line, in
// the order of the file's lines, as many as fit whole after the first.
bool readConfigText(const char *path, const char *text, size_t length, WatchConfig *config, char *why, size_t size);

// Where the files last set what a problem of the options as a whole
// comes from, as "PATH:LINE:COLUMN", leaving out what the command line
// (`line`) gave; false when no file set any of it.
bool placeOf(const WatchConfig &config, const ProblemParts &parts, const WatchOptions &line, char *text, size_t size);

// The configuration as a file that reads back to it: every option in
// effect, then the check, then the probes. False, with why, when a value
// cannot be written in TOML (a path that is not UTF-8).
bool printConfig(const WatchOptions &options, bool silent, char *text, size_t size, char *why, size_t whySize);
