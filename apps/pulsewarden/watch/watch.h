// watch: the platform kept told, continuously, whether the application is
// healthy, from a check run on a schedule or a process watched.
#pragma once

// watch --reload and service reload: reloadWatcher.
#include "requests.h"
// What a service manager of its own kind (Windows' service control
// manager, by the service in service/) hears of watch: ServiceManager.
#include "system/service_manager.h"

#include <cstddef>

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

#if defined(_WIN32)
// The Windows service's side (service/), from any thread: an orderly
// stop, as SIGTERM asks (the service control manager's STOP and
// PRESHUTDOWN); the files read again, as SIGHUP asks (PARAMCHANGE).
void askWatchToStop();
void askWatchToReload();

// What installing watch as a service needs (service_plan_windows.cpp).
struct WatchServicePlan {
	char commandLine[32768];  // the tool, "service run", and the arguments, every path in them made full
	struct {
		char path[1100];
		bool write;
	} places[72];             // what the service's account reads (or writes) of what the options name
	int placeCount;
	char usage[600];          // why the arguments cannot be used, for the usage line; "" for none
	bool help;                // --help was asked
};
// The arguments after "service install" (the account's taken out) judged
// and their files checked as the service will read them; without anything
// to watch named, `defaultConfig` is read (null: none). 0 once planned;
// else the exit status: exitUsage with `usage` or `help` for the usage
// line, or with the files' faults said; another with why said.
int planWatchService(bool silent, int argc, char **argv, const char *defaultConfig, WatchServicePlan *plan);
#endif
