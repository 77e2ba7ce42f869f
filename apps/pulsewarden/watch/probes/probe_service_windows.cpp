// --service on Windows: the service control manager's word on its state,
// through advapi32, loaded when a --service probe is given.
#include "probe.h"

#include "core/duration.h"
#include "system.h"

#include <windows.h>

#include <cstdio>

static struct {
	void *library;
	decltype(&OpenSCManagerA) openManager;
	decltype(&OpenServiceA) openService;
	decltype(&QueryServiceStatus) query;
	decltype(&CloseServiceHandle) close;
} scm;

bool serviceProbeReady(const char * /*name*/, char *why, size_t size)
{
	if (scm.library)
		return true;
	void *library = loadSystemLibrary("advapi32.dll");
	if (!library || !findFunction(library, "OpenSCManagerA", &scm.openManager)
		|| !findFunction(library, "OpenServiceA", &scm.openService)
		|| !findFunction(library, "QueryServiceStatus", &scm.query)
		|| !findFunction(library, "CloseServiceHandle", &scm.close)) {
		snprintf(why, size, "the service control manager's interface (advapi32.dll) cannot be loaded");
		return false;
	}
	scm.library = library;
	return true;
}

static const char *stateName(DWORD state)
{
	static const struct {
		DWORD state;
		const char *name;
	} names[] = {
		{SERVICE_STOPPED, "stopped"},
		{SERVICE_START_PENDING, "starting"},
		{SERVICE_STOP_PENDING, "stopping"},
		{SERVICE_CONTINUE_PENDING, "continuing"},
		{SERVICE_PAUSE_PENDING, "pausing"},
		{SERVICE_PAUSED, "paused"},
		{0, "in an unknown state"},
	};
	size_t i = 0;
	while (names[i].state && names[i].state != state)
		i++;
	return names[i].name;
}

void runServiceProbe(const char *name, const ProbeSetting &, ProbeResult *result)
{
	SC_HANDLE manager = scm.openManager(nullptr, nullptr, SC_MANAGER_CONNECT);
	SC_HANDLE service = manager ? scm.openService(manager, name, SERVICE_QUERY_STATUS) : nullptr;
	SERVICE_STATUS status = {};
	if (!service || !scm.query(service, &status)) {
		if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
			probeFailed(result, "no such service");
		} else {
			char words[160];
			lastErrorText(words, sizeof words);
			probeFailed(result, "cannot ask the service control manager: %s", words);
		}
	} else {
		result->passed = status.dwCurrentState == SERVICE_RUNNING;
		if (!result->passed)
			probeFailed(result, "%s", stateName(status.dwCurrentState));
	}
	if (service)
		scm.close(service);
	if (manager)
		scm.close(manager);
}
