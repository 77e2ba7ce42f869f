// Windows: the service process. The service control manager is told what
// systemd would be: START_PENDING while watch sets up, with a checkpoint
// at each step, RUNNING where systemd hears READY=1, STOP_PENDING while it
// stops. Stop and the notice of shutdown are the orderly stop SIGTERM is
// on Linux. Every line goes to the Application event log, and the end
// says whether a restart can help.
#include "service_windows.h"

#include "advapi_windows.h"
#include "console.h"
#include "exit_status.h"
#include "messages.h"
#include "service_end.h"
#include "system.h"
#include "watch/watch.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

enum : DWORD {
	startHintMs = 30000,  // loading libraries, asking the platform
	stopHintMs = 15000,   // the check's grace, then switching monitoring off
};

static struct {
	const char *invocationName;
	int argc;
	char **argv;
	SERVICE_STATUS_HANDLE handle;
	SERVICE_STATUS status;
	CRITICAL_SECTION lock;    // the handler's thread and the watcher's both report
	HANDLE events;
	volatile LONG stopAsked;
	bool ended;
	int exitStatus;
} service;

static void setState(DWORD state, DWORD waitHintMs)
{
	EnterCriticalSection(&service.lock);
	SERVICE_STATUS &s = service.status;
	bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
	// The same pending state again is progress: one more checkpoint.
	s.dwCheckPoint = !pending ? 0 : s.dwCurrentState == state ? s.dwCheckPoint + 1 : 1;
	s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
	s.dwCurrentState = state;
	s.dwWaitHint = waitHintMs;
	s.dwControlsAccepted = state == SERVICE_RUNNING
		? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_PARAMCHANGE : 0;
	advapi.setStatus(service.handle, &s);
	LeaveCriticalSection(&service.lock);
}

static DWORD WINAPI onControl(DWORD control, DWORD /*type*/, void * /*data*/, void * /*context*/)
{
	switch (control) {
	case SERVICE_CONTROL_STOP:
	case SERVICE_CONTROL_PRESHUTDOWN:
		// A machine shutting down stops watch in order: the platform must
		// not take the heartbeats that stop for a failure.
		InterlockedExchange(&service.stopAsked, 1);
		setState(SERVICE_STOP_PENDING, stopHintMs);
		askWatchToStop();
		return NO_ERROR;
	case SERVICE_CONTROL_PARAMCHANGE:
		// Its configuration read again, as SIGHUP asks on Linux; service
		// reload waits for the answer in the runtime directory.
		askWatchToReload();
		return NO_ERROR;
	case SERVICE_CONTROL_INTERROGATE:
		return NO_ERROR;
	default:
		return ERROR_CALL_NOT_IMPLEMENTED;
	}
}

static void notify(const char *message)
{
	if (strcmp(message, "READY=1") == 0)
		setState(SERVICE_RUNNING, 0);
	else if (strcmp(message, "STOPPING=1") == 0)
		setState(SERVICE_STOP_PENDING, stopHintMs);
	else if (strncmp(message, "STATUS=", 7) == 0 && service.status.dwCurrentState != SERVICE_RUNNING)
		setState(service.status.dwCurrentState, service.status.dwWaitHint);
}

static void log(int priority, const char *line)
{
	if (!service.events)
		return;
	WORD type = EVENTLOG_INFORMATION_TYPE;
	DWORD id = MSG_LINE_INFORMATION;
	if (priority <= 3) {
		type = EVENTLOG_ERROR_TYPE;
		id = MSG_LINE_ERROR;
	} else if (priority == 4) {
		type = EVENTLOG_WARNING_TYPE;
		id = MSG_LINE_WARNING;
	}
	advapi.reportEvent(service.events, type, 0, id, nullptr, 1, 0, &line, nullptr);
}

// Lines of their own kind, with an event id of their own to filter on.
static void logKind(MessageKind kind, int priority, const char *line)
{
	if (!service.events)
		return;
	WORD type = priority <= 3 ? EVENTLOG_ERROR_TYPE : EVENTLOG_WARNING_TYPE;
	DWORD id = kind == messageResetConcluded ? MSG_RESET_CONCLUDED : MSG_HELD;
	advapi.reportEvent(service.events, type, 0, id, nullptr, 1, 0, &line, nullptr);
}

// Reports the end: a stop asked for, or a status a restart cannot help,
// ends without a failure; any other status is one, which the service's
// recovery acts on.
static void ended(int status)
{
	if (service.ended)
		return;
	service.ended = true;
	service.exitStatus = status;
	ServiceEnd end = judgeServiceEnd(status, service.stopAsked != 0);
	if (end.line[0])
		log(3, end.line);
	EnterCriticalSection(&service.lock);
	service.status.dwWin32ExitCode = end.failure ? ERROR_SERVICE_SPECIFIC_ERROR : NO_ERROR;
	service.status.dwServiceSpecificExitCode = end.failure ? static_cast<DWORD>(status) : 0;
	LeaveCriticalSection(&service.lock);
	setState(SERVICE_STOPPED, 0);
}

static void WINAPI serviceMain(DWORD /*argc*/, char ** /*argv*/)
{
	service.handle = advapi.registerHandler(serviceName, onControl, nullptr);
	if (!service.handle)
		return;
	setState(SERVICE_START_PENDING, startHintMs);
	service.events = advapi.registerEventSource(nullptr, eventSourceName);
	static const ServiceManager manager = {notify, log, logKind, ended};
	serveServiceManager(&manager);
	ended(pulsewardenWatch(service.invocationName, false, service.argc, service.argv));
}

int runService(const char *invocationName, int argc, char **argv)
{
	char why[200];
	if (!loadAdvapi(why, sizeof why)) {
		printTo(stderr, "service run: %s\n", why);
		return 1;
	}
	service.invocationName = invocationName;
	service.argc = argc;
	service.argv = argv;
	InitializeCriticalSection(&service.lock);
	SERVICE_TABLE_ENTRYA table[] = {{const_cast<char *>(serviceName), serviceMain}, {nullptr, nullptr}};
	if (!advapi.startDispatcher(table)) {
		if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
			printTo(stderr, "service run: only the service control manager runs this (net start %s); "
				"at a prompt: %s watch\n", serviceName, invocationName);
			return exitUsage;
		}
		lastErrorText(why, sizeof why);
		printTo(stderr, "service run: cannot reach the service control manager: %s\n", why);
		return 1;
	}
	return service.exitStatus;
}
