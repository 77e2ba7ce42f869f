// Windows: watch installed as the service pulsewarden-watch, started with
// Windows (delayed) as LocalSystem or its own virtual account, restarted on
// failure, and its lines in the Application event log; and removed again.
#include "service.h"

#include "advapi_windows.h"
#include "console.h"
#include "exit_status.h"
#include "files.h"
#include "machine_windows.h"
#include "service_account_windows.h"
#include "service_windows.h"
#include "system.h"
#include "watch/watch.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

static const char displayName[] = "pulsewarden watch (Corvane application monitoring)";
static char description[] = "Keeps the Corvane platform told whether the application is healthy: a heartbeat "
	"while its health check passes. Its lines are in the Application event log, source pulsewarden.";
static const char eventSourceKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\pulsewarden";

enum : DWORD {
	restartDelayMs = 10000,
	failureCountResetS = 86400,    // three restarts a day at most
	preshutdownMs = 30000,         // an orderly stop takes a second or two
	uninstallStopWaitMs = 60000,
	goneWaitMs = 10000,
};

static int serviceUsage(const char *invocationName, const char *why)
{
	FILE *to = why ? stderr : stdout;
	if (why)
		printTo(stderr, "service: %s\n", why);
	printTo(to, "Usage: %s service install [-s] [--account localsystem|virtual] [WATCH OPTION...] [PROBE...] [-- CHECK [ARG...]]\n"
		"       %s service reload\n"
		"       %s service uninstall\n", invocationName, invocationName, invocationName);
	if (why)
		return exitUsage;
	printOut("watch as the service pulsewarden-watch: started with Windows (delayed),\n"
		"restarted when it fails, its lines in the Application event log (source\n"
		"pulsewarden). From an elevated prompt (\"Run as administrator\").\n"
		"  install               install it, to run watch with these arguments; with no\n"
		"                        probe or check, watch reads %%ProgramData%%\\pulsewarden\\\n"
		"                        watch.toml (--config); the files are checked first\n"
		"  --account localsystem run it as LocalSystem (the default)\n"
		"  --account virtual     run it as its own virtual account, NT SERVICE\\\n"
		"                        pulsewarden-watch, granted what the options name\n"
		"  -s                    hide the lines about healthy progress\n"
		"  reload                have it read its configuration files again, and wait\n"
		"                        for its answer (as watch --reload)\n"
		"  uninstall             stop it if it runs, and remove it\n"
		"  --help                this text\n"
		"  --version             say the version, and exit\n"
		"WATCH OPTION, PROBE, CHECK: as %s watch --help says.\n"
		"Exit status: 0 done; 100 a command line it cannot use; any other: refused or\n"
		"failed, and said why.\n", invocationName);
	return 0;
}

static int refused(const char *what, const char *doing)
{
	DWORD error = GetLastError();
	if (error == ERROR_ACCESS_DENIED) {
		printTo(stderr, "service %s: needs an elevated prompt: run it from a command prompt opened with "
			"\"Run as administrator\"\n", what);
	} else {
		char words[200];
		lastErrorText(words, sizeof words);
		printTo(stderr, "service %s: %s: %s\n", what, doing, words);
	}
	return 1;
}

// A setting the system may refuse (Wine refuses some): a warning, not a
// failed install, saying what follows from it.
static void configure(SC_HANDLE service, DWORD level, void *info, const char *what, const char *consequence)
{
	if (advapi.changeConfig(service, level, info))
		return;
	char words[200];
	lastErrorText(words, sizeof words);
	printTo(stderr, "service install: warning: the system refused %s (%s): %s\n", what, words, consequence);
}

static void configureService(SC_HANDLE service)
{
	SERVICE_DESCRIPTIONA text = {description};
	configure(service, SERVICE_CONFIG_DESCRIPTION, &text, "the description", "Services shows none");
	SERVICE_DELAYED_AUTO_START_INFO delayed = {TRUE};
	configure(service, SERVICE_CONFIG_DELAYED_AUTO_START_INFO, &delayed, "a delayed start",
		"it starts as early as Windows starts services");
	SC_ACTION restart[3] = {
		{SC_ACTION_RESTART, restartDelayMs}, {SC_ACTION_RESTART, restartDelayMs}, {SC_ACTION_RESTART, restartDelayMs}};
	SERVICE_FAILURE_ACTIONSA actions = {failureCountResetS, nullptr, nullptr, 3, restart};
	configure(service, SERVICE_CONFIG_FAILURE_ACTIONS, &actions, "restarts on failure",
		"it is not restarted when it fails");
	// Without it, only a crash counts: a watcher that ends with a failure
	// status would never be restarted.
	SERVICE_FAILURE_ACTIONS_FLAG flag = {TRUE};
	configure(service, SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag, "to count a failure status as a failure",
		"only a crash restarts it");
	SERVICE_PRESHUTDOWN_INFO preshutdown = {preshutdownMs};
	configure(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown, "a notice of 30 s before shutdown",
		"it stops in the time the system gives at shutdown");
}

// The event log's source, so that Event Viewer shows the lines' text from
// the tool's message table.
static bool registerEventSource(const char *tool)
{
	HKEY key;
	if (advapi.createKey(HKEY_LOCAL_MACHINE, eventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)
		!= ERROR_SUCCESS)
		return false;
	DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
	bool set = advapi.setValue(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(tool),
			static_cast<DWORD>(strlen(tool) + 1)) == ERROR_SUCCESS
		&& advapi.setValue(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&types), sizeof types)
			== ERROR_SUCCESS;
	advapi.closeKey(key);
	return set;
}

// --account, taken out of the arguments, which are watch's: false, with
// why, for an account it does not know.
static bool takeAccount(int *argc, char **argv, bool *virtualAccount, char *why, size_t size)
{
	for (int i = 0; i < *argc && strcmp(argv[i], "--") != 0; i++) {
		const char *value;
		int taken;
		if (strncmp(argv[i], "--account=", 10) == 0)
			value = argv[i] + 10, taken = 1;
		else if (strcmp(argv[i], "--account") == 0)
			value = i + 1 < *argc ? argv[i + 1] : "", taken = 2;
		else
			continue;
		if (strcmp(value, "virtual") != 0 && strcmp(value, "localsystem") != 0) {
			snprintf(why, size, "--account: \"%.40s\" is not localsystem or virtual", value);
			return false;
		}
		*virtualAccount = strcmp(value, "virtual") == 0;
		for (int k = i; k + taken < *argc; k++)
			argv[k] = argv[k + taken];
		*argc -= taken;
		i--;
	}
	return true;
}

// What the virtual account needs, granted one place at a time and said:
// its runtime and state directory (made if it is not there), what the
// options name (the configuration files, the metrics file's directory,
// the headers files), and the simulated platform's state where there is
// one. False, with why, at the first that cannot be granted.
static bool grantWhatItNeeds(const WatchServicePlan &plan, char *why, size_t size)
{
	static char dir[MAX_PATH], simulated[MAX_PATH];
	if (!machineDataPath("pulsewarden", dir, sizeof dir)) {
		snprintf(why, size, "%%ProgramData%% is not set");
		return false;
	}
	createMachineDirectory(dir, true);
	char sid[96];
	if (!virtualAccountSid(serviceName, sid, sizeof sid, why, size))
		return false;
	auto grant = [&](const char *path, bool write) {
		if (!grantVirtualAccount(path, write, why, size))
			return false;
		printOut("service install: granted %s (%s) %s on %s\n", virtualAccount, sid, write ? "change" : "read", path);
		return true;
	};
	if (!grant(dir, true))
		return false;
	for (int i = 0; i < plan.placeCount; i++)
		if (!grant(plan.places[i].path, plan.places[i].write))
			return false;
	return !(machineDataPath("corvane-sim", simulated, sizeof simulated) && pathExists(simulated))
		|| grant(simulated, true);
}

static int install(const char *invocationName, bool silent, int argc, char **argv)
{
	char why[600];
	bool virtualAccount = false;
	if (!takeAccount(&argc, argv, &virtualAccount, why, sizeof why))
		return serviceUsage(invocationName, why);
	// Nothing to watch named: the machine's configuration file, which the
	// installer writes for Administrators and SYSTEM alone.
	static char defaultConfig[MAX_PATH];
	bool machineConfig = machineDataPath("pulsewarden\\watch.toml", defaultConfig, sizeof defaultConfig);
	static WatchServicePlan plan;
	if (int status = planWatchService(silent, argc, argv, machineConfig ? defaultConfig : nullptr, &plan)) {
		if (plan.help || plan.usage[0])
			return serviceUsage(invocationName, plan.help ? nullptr : plan.usage);
		return status;
	}
	const char *commandLine = plan.commandLine;
	if (!loadAdvapi(why, sizeof why)) {
		printTo(stderr, "service install: %s\n", why);
		return 1;
	}
	SC_HANDLE manager = advapi.openManager(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
	if (!manager)
		return refused("install", "cannot reach the service control manager");
	// A virtual account has no password: the system keeps its logon.
	SC_HANDLE service = advapi.createService(manager, serviceName, displayName, SERVICE_ALL_ACCESS,
		SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, commandLine, nullptr, nullptr, nullptr,
		virtualAccount ? ::virtualAccount : nullptr, nullptr);
	if (!service) {
		int status;
		if (GetLastError() == ERROR_SERVICE_EXISTS) {
			printTo(stderr, "service install: %s is installed already: remove it first (%s service uninstall)\n",
				serviceName, invocationName);
			status = 1;
		} else if (GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE) {
			printTo(stderr, "service install: %s is still being removed: close what holds it (Services, say) "
				"and install it again\n", serviceName);
			status = 1;
		} else {
			status = refused("install", "cannot create the service");
		}
		advapi.closeHandle(manager);
		return status;
	}
	configureService(service);
	if (virtualAccount && !grantWhatItNeeds(plan, why, sizeof why)) {
		// A service that could not write its own directory would fail at
		// each start: none is left behind.
		advapi.deleteService(service);
		advapi.closeHandle(service);
		advapi.closeHandle(manager);
		printTo(stderr, "service install: %s; not installed\n", why);
		return 1;
	}
	char self[MAX_PATH];
	DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
	if (n == 0 || n >= sizeof self || !registerEventSource(self))
		printTo(stderr, "service install: warning: the event source %s cannot be registered: Event Viewer "
			"shows its lines without their text\n", eventSourceName);
	advapi.closeHandle(service);
	advapi.closeHandle(manager);
	printOut("service install: %s installed, to start with Windows (delayed) as %s; "
		"to start it now: net start %s\n", serviceName,
		virtualAccount ? "NT SERVICE\\pulsewarden-watch (a virtual account)" : "LocalSystem", serviceName);
	return 0;
}

static void forgetEventSource()
{
	advapi.deleteKey(HKEY_LOCAL_MACHINE, eventSourceKey);
}

// Stops the service if it runs: true once it has stopped.
static bool stopService(SC_HANDLE service, bool *wasRunning)
{
	SERVICE_STATUS status = {};
	*wasRunning = advapi.queryStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED;
	if (!*wasRunning)
		return true;
	advapi.control(service, SERVICE_CONTROL_STOP, &status);
	for (DWORD waited = 0; waited < uninstallStopWaitMs; waited += 250) {
		if (advapi.queryStatus(service, &status) && status.dwCurrentState == SERVICE_STOPPED)
			return true;
		Sleep(250);
	}
	return false;
}

// A service marked for deletion is gone once the last handle to it
// closes: until then a new one of its name cannot be installed. Waited
// for, so that uninstalling and installing again in a script works.
static bool gone(SC_HANDLE manager)
{
	for (DWORD waited = 0; waited < goneWaitMs; waited += 100) {
		SC_HANDLE service = advapi.openService(manager, serviceName, SERVICE_QUERY_STATUS);
		if (!service)
			return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
		advapi.closeHandle(service);
		Sleep(100);
	}
	return false;
}

static int uninstall(const char *invocationName, int argc)
{
	if (argc > 0)
		return serviceUsage(invocationName, "uninstall takes no arguments");
	char why[200];
	if (!loadAdvapi(why, sizeof why)) {
		printTo(stderr, "service uninstall: %s\n", why);
		return 1;
	}
	SC_HANDLE manager = advapi.openManager(nullptr, nullptr, SC_MANAGER_CONNECT);
	if (!manager)
		return refused("uninstall", "cannot reach the service control manager");
	SC_HANDLE service = advapi.openService(manager, serviceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
	if (!service) {
		int status = 0;
		if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
			forgetEventSource();
			printOut("service uninstall: %s is not installed: nothing to remove\n", serviceName);
		} else {
			status = refused("uninstall", "cannot open the service");
		}
		advapi.closeHandle(manager);
		return status;
	}
	bool wasRunning;
	bool stopped = stopService(service, &wasRunning);
	int status = 0;
	if (!advapi.deleteService(service) && GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
		status = refused("uninstall", "cannot remove the service");
	advapi.closeHandle(service);
	if (status != 0) {
		// said already
	} else if (!stopped) {
		printTo(stderr, "service uninstall: %s did not stop within %lu s: it is removed once it stops\n",
			serviceName, static_cast<unsigned long>(uninstallStopWaitMs / 1000));
		status = 1;
	} else if (!gone(manager)) {
		printTo(stderr, "service uninstall: %s is removed once every program that holds it lets go of it "
			"(Services, say)\n", serviceName);
		status = 1;
	} else {
		forgetEventSource();
		printOut("service uninstall: %s %sremoved\n", serviceName, wasRunning ? "stopped and " : "");
	}
	advapi.closeHandle(manager);
	return status;
}

// service reload: SERVICE_CONTROL_PARAMCHANGE, and the service's answer
// waited for, as watch --reload waits for a watcher's.
static bool askService(void * /*context*/, long /*pid*/, char *why, size_t size)
{
	SC_HANDLE manager = advapi.openManager(nullptr, nullptr, SC_MANAGER_CONNECT);
	SC_HANDLE service = manager ? advapi.openService(manager, serviceName, SERVICE_PAUSE_CONTINUE) : nullptr;
	SERVICE_STATUS status = {};
	bool asked = service && advapi.control(service, SERVICE_CONTROL_PARAMCHANGE, &status);
	if (!asked) {
		char words[200];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "service reload: %s", GetLastError() == ERROR_ACCESS_DENIED
			? "needs an elevated prompt: run it from a command prompt opened with \"Run as administrator\"" : words);
	}
	if (service)
		advapi.closeHandle(service);
	if (manager)
		advapi.closeHandle(manager);
	return asked;
}

static int reload(const char *invocationName, int argc)
{
	if (argc > 0)
		return serviceUsage(invocationName, "reload takes no arguments");
	char why[200];
	if (!loadAdvapi(why, sizeof why)) {
		printTo(stderr, "service reload: %s\n", why);
		return 1;
	}
	return reloadWatcher(nullptr, false, askService, nullptr);
}

int pulsewardenService(const char *invocationName, bool silent, int argc, char **argv)
{
	if (argc == 0)
		return serviceUsage(invocationName, "install, reload or uninstall?");
	if (strcmp(argv[0], "install") == 0)
		return install(invocationName, silent, argc - 1, argv + 1);
	if (strcmp(argv[0], "uninstall") == 0)
		return uninstall(invocationName, argc - 1);
	if (strcmp(argv[0], "reload") == 0)
		return reload(invocationName, argc - 1);
	if (strcmp(argv[0], "run") == 0)
		return runService(invocationName, argc - 1, argv + 1);
	if (strcmp(argv[0], "--help") == 0)
		return serviceUsage(invocationName, nullptr);
	if (strcmp(argv[0], "--version") == 0) {
		printVersion();
		return 0;
	}
	char why[120];
	snprintf(why, sizeof why, "\"%.60s\" is not install, reload or uninstall", argv[0]);
	return serviceUsage(invocationName, why);
}
