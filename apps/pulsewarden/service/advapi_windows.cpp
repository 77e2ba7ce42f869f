#include "advapi_windows.h"

#include "system.h"

#include <cstdio>

Advapi advapi;

bool loadAdvapi(char *why, size_t size)
{
	static void *library;
	if (library)
		return true;
	void *loaded = loadSystemLibrary("advapi32.dll");
	const char *missing = loaded ? nullptr : "advapi32.dll";
	auto find = [&](const char *name, auto *function) {
		if (!missing && !findFunction(loaded, name, function))
			missing = name;
	};
	find("OpenSCManagerA", &advapi.openManager);
	find("CreateServiceA", &advapi.createService);
	find("OpenServiceA", &advapi.openService);
	find("ChangeServiceConfig2A", &advapi.changeConfig);
	find("ControlService", &advapi.control);
	find("QueryServiceStatus", &advapi.queryStatus);
	find("DeleteService", &advapi.deleteService);
	find("CloseServiceHandle", &advapi.closeHandle);
	find("StartServiceCtrlDispatcherA", &advapi.startDispatcher);
	find("RegisterServiceCtrlHandlerExA", &advapi.registerHandler);
	find("SetServiceStatus", &advapi.setStatus);
	find("RegisterEventSourceA", &advapi.registerEventSource);
	find("ReportEventA", &advapi.reportEvent);
	find("RegCreateKeyExA", &advapi.createKey);
	find("RegSetValueExA", &advapi.setValue);
	find("RegCloseKey", &advapi.closeKey);
	find("RegDeleteKeyA", &advapi.deleteKey);
	if (missing) {
		snprintf(why, size, "the service control manager's interface cannot be loaded (%s)", missing);
		return false;
	}
	library = loaded;
	return true;
}
