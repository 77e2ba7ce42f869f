// Which configuration files watch reads, in what order: --config FILE,
// then each *.toml in the watch.d directory beside it, by name. What each
// says is read by core/config_file.h.
#pragma once

#include "core/config_file.h"

// A fault found in the files, as a line; `refused`: a file not to be
// trusted or not read at all (what --check-config and a start end with
// 105 for), else what a file says is wrong (100).
using ConfigFault = void (*)(const char *line, bool refused, void *context);

// Reads the files onto `config` (begun with startConfig). Each file that
// cannot be used is told to `fault` as "PATH:LINE:COLUMN: what is wrong",
// or why it is not read, naming it; the rest are still read, so that one
// check tells every fault. False when any could not be used.
bool loadConfig(const char *file, WatchConfig *config, ConfigFault fault, void *context);

// The command line (`line`, as parseWatchOptions read it) laid over the
// files it names, if it names any, into `files`, and judged whole: false,
// each fault told, when they cannot be watched with. A file's `silent`
// is added to `silent`.
bool gatherConfiguration(const WatchOptions &line, WatchConfig *files, bool *silent, ConfigFault fault, void *context);

struct CheckUser;

// Whether what the options name can work at all: the check program is
// found, its user can run it and no one else may change it, and each
// probe's library loads; why not, as a line, in `why`. Checked before
// watch starts, at each reload, and before a service is installed to run
// it. The check's user, looked up, goes to `user` where one is given (the
// caller releases it).
bool watchedPartsUsable(const WatchOptions &options, CheckUser **user, char *why, size_t size);
