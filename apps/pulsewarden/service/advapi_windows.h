// The service control manager's, the event log's and the registry's
// functions (advapi32), loaded when the service command is run: the tool
// imports nothing beyond the kernel and the C runtime, so that the
// one-shot commands load nothing more.
#pragma once

#include <windows.h>

#include <cstddef>

struct Advapi {
	decltype(&OpenSCManagerA) openManager;
	decltype(&CreateServiceA) createService;
	decltype(&OpenServiceA) openService;
	decltype(&ChangeServiceConfig2A) changeConfig;
	decltype(&ControlService) control;
	decltype(&QueryServiceStatus) queryStatus;
	decltype(&DeleteService) deleteService;
	decltype(&CloseServiceHandle) closeHandle;
	decltype(&StartServiceCtrlDispatcherA) startDispatcher;
	decltype(&RegisterServiceCtrlHandlerExA) registerHandler;
	decltype(&SetServiceStatus) setStatus;
	decltype(&RegisterEventSourceA) registerEventSource;
	decltype(&ReportEventA) reportEvent;
	decltype(&RegCreateKeyExA) createKey;
	decltype(&RegSetValueExA) setValue;
	decltype(&RegCloseKey) closeKey;
	decltype(&RegDeleteKeyA) deleteKey;
};
extern Advapi advapi;

// Loads them once; false, with why, when the system lacks any.
bool loadAdvapi(char *why, size_t size);
