// Windows: no notification socket and no journal; run as a service, the
// service control manager (service/service_run_windows.cpp) is told what
// systemd would be, and its event log takes the lines.
#include "service_manager.h"

static const ServiceManager *serviceManager;

void serveServiceManager(const ServiceManager *manager)
{
	serviceManager = manager;
}

bool servedByServiceManager()
{
	return serviceManager != nullptr;
}

bool logToServiceManager(int priority, const char *line)
{
	if (!serviceManager)
		return false;
	serviceManager->log(priority, line);
	return true;
}

bool logMessage(MessageKind kind, int priority, const char *line)
{
	if (!serviceManager)
		return false;
	serviceManager->logMessage(kind, priority, line);
	return true;
}

void notifyServiceManager(const char *message)
{
	if (serviceManager)
		serviceManager->notify(message);
}

void notifyReloading()
{
	notifyServiceManager("RELOADING=1");
}

int64_t serviceWatchdogNs()
{
	return 0;
}

bool stderrIsJournal()
{
	return false;
}

void serviceManagerEnding(int status)
{
	if (serviceManager)
		serviceManager->ended(status);
}
