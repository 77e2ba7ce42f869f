// watch: the platform kept told, continuously, whether the application is
// healthy, from a check run on a schedule or a process watched.
#pragma once

#include <cstddef>

struct WatchOptions;

#if defined(_WIN32)
#  define WATCH_ENTRY
#else
#  define WATCH_ENTRY __attribute__((visibility("default")))
#endif

// Runs watch with the arguments after its word, silent as the command
// line before it said; returns the exit status: 0 after an orderly stop.
// With pulsewardenStatus, the names the Linux module exports.
extern "C" WATCH_ENTRY int pulsewardenWatch(const char *invocationName, bool silent, int argc, char **argv);

typedef int (*WatchEntry)(const char *invocationName, bool silent, int argc, char **argv);
inline constexpr char watchEntryName[] = "pulsewardenWatch";

// pulsewarden status with the arguments after its word: how the watcher
// of the runtime directory stands, from the status file it keeps; the
// exit status says it (status_command.cpp).
extern "C" WATCH_ENTRY int pulsewardenStatus(const char *invocationName, int argc, char **argv);

typedef int (*StatusEntry)(const char *invocationName, int argc, char **argv);
inline constexpr char statusEntryName[] = "pulsewardenStatus";

struct CheckUser;

// Whether what the options name can work at all: the check program is
// found, its user can run it and no one else may change it, and each
// probe's library loads; why not, as a line, in `why`. Checked before
// watch starts, and before a service is installed to run it. The check's
// user, looked up, goes to `user` where one is given (the caller releases
// it).
bool watchedPartsUsable(const WatchOptions &options, CheckUser **user, char *why, size_t size);

// Asks the watcher of the runtime directory `dir` to read its
// configuration again, by `ask` (a signal, the service control manager),
// and waits for its answer: 0 once it has applied it, 1 with the reason
// said when it has refused it or cannot be asked.
int reloadWatcher(const char *dir, bool (*ask)(void *context, char *why, size_t size), void *context);
