// Whoever runs the watcher as a service, told how it stands: systemd
// through its notification socket and the journal
// (service_manager_posix.cpp), or Windows' service control manager
// (service_manager_windows.cpp, for the service in service/).
#pragma once

#include <cstdint>

// A message in systemd's words: READY=1, STOPPING=1, WATCHDOG=1,
// STATUS=...; nothing when no service manager listens.
void notifyServiceManager(const char *message);
// The configuration is being read again (RELOADING=1, with the monotonic
// clock's time as systemd asks); READY=1 says when it is done.
void notifyReloading();
// The period of the service manager's watchdog (WATCHDOG_USEC); 0: none.
int64_t serviceWatchdogNs();

// Whether standard error is the journal (JOURNAL_STREAM names it): lines
// then carry a priority prefix rather than the time.
bool stderrIsJournal();

// Lines an operator looks for by their kind: in the journal each has a
// MESSAGE_ID of its own (its catalog entry explains it: journalctl -x); in
// the event log an event id of its own.
enum MessageKind {
	messageResetConcluded,  // the boot before was most likely ended by the platform's reset
	messageHeld,            // the watcher holds rather than let the platform reset the machine again
};
// A service manager that is not reached through NOTIFY_SOCKET: Windows'
// service control manager, whose service (service_run_windows.cpp) sets
// it before watch starts. It is told what systemd would be (READY=1,
// STOPPING=1, STATUS=...), its log takes the lines that would go to
// stderr, and `ended` hears the exit status before the process ends.
struct ServiceManager {
	void (*notify)(const char *message);
	void (*log)(int priority, const char *line);
	void (*logMessage)(MessageKind kind, int priority, const char *line);
	void (*ended)(int status);
};
// Windows: from now on watch serves `manager`.
void serveServiceManager(const ServiceManager *manager);
// Whether a service manager of that kind serves: the watcher then has no
// console of its own.
bool servedByServiceManager();
// Hands a line to the service manager's log: false when there is none
// (it then goes to stderr).
bool logToServiceManager(int priority, const char *line);
// Hands such a line to the journal (when stderr is it) or the event log:
// false when neither takes it (it then goes where every line goes).
bool logMessage(MessageKind kind, int priority, const char *line);

// The watcher is about to end with `status`, other than by returning.
void serviceManagerEnding(int status);
