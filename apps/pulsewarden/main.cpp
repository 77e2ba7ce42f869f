// pulsewarden: drives the Corvane platform's application monitoring.
// One command word per run, performed with one library call and turned into
// console text and an exit status; or, with runAsAgent, the menu-driven
// agent; or, with watch, heartbeats kept up from a health check; or, with
// status, how that watcher stands; or, with service, watch installed as a
// Windows service; or, with help, what all of them are.
#include "agent.h"
#include "command_line.h"
#include "console.h"
#include "exit_status.h"
#include "named_value.h"
#include "platform.h"
#include "service/service.h"
#include "watch_start.h"

#include <corvane-pulsewarden.h>


// getAppStatus exits with the status word's number.
static const NamedValue statusTable[] = {
	{"gray", 0},
	{"green", 1},
	{"red", 2},
	{nullptr, 3},
};

// The usage line is the one-shot commands' alone, byte for byte as scripts
// have always seen it: the tool's own commands are named by help.
static void usageLine(FILE *to, const char *invocationName)
{
	printTo(to, "Usage: %s {enable | disable | markActive | isEnabled | "
		"getAppStatus | postAppState [appStateOk|appStateNeedReset]}\n",
		invocationName);
}

static int usage(const char *invocationName)
{
	usageLine(stderr, invocationName);
	return exitUsage;
}

static int help(const char *invocationName)
{
	usageLine(stdout, invocationName);
	printOut("Drives the Corvane platform's application monitoring, one command a run: its\n"
		"result on standard output, errors on standard error.\n"
		"  enable                switch application monitoring on\n"
		"  disable               switch it off\n"
		"  markActive            send one heartbeat\n"
		"  isEnabled             print true or false\n"
		"  getAppStatus          print gray, green or red; exit 0, 1 or 2 for them\n"
		"  postAppState STATE    report appStateOk or appStateNeedReset\n"
		"  runAsAgent            a menu, one command a line of standard input\n"
		"  -s, --silent          hide the result line of isEnabled and getAppStatus\n"
		"\n"
		"The tool's own commands, each with --help and --version:\n"
		"  watch ...             heartbeats while the application's probes or check pass\n"
		"  status ...            how the watcher of this machine stands\n"
		"  service ...           watch as a Windows service (on Linux: systemd's unit\n"
		"                        pulsewarden-watch)\n"
		"  help                  this text\n"
		"\n"
		"Exit status: 100 a command line it cannot use (the usage line, on standard\n"
		"error); else the command's own.\n");
	return 0;
}

static int reported(const CommandLine &line, int32_t result)
{
	reportResultForWord(line.word, result);
	return exitStatusForResult(result);
}

static int isEnabled()
{
	// The byte is the exit status, read as a signed 8-bit number.
	int8_t flag = static_cast<int8_t>(Tendwell_IsEnabled());
	if (!silentMode)
		printOut("%s\n", flag ? "true" : "false");
	return flag;
}

static int getAppStatus()
{
	char *status = Tendwell_GetAppStatus();
	if (!status)
		return exitNoStatus;
	if (!silentMode)
		printOut("%s\n", status);
	int32_t value = lookupNamedValue(statusTable, status);
	Tendwell_Free(status);
	return value;
}

int main(int argc, char **argv)
{
	// The exit status carries the outcome: a reader that has gone away is
	// one more output error to ignore, not a reason to die with SIGPIPE.
	ignoreVanishedReader();

	// execve() may pass no arguments at all; the usage line still needs a name.
	const char *invocationName = argc > 0 ? argv[0] : "pulsewarden";
	CommandLine line = scanCommandLine(argc, argv);
	if (!line.usable)
		return usage(invocationName);
	silentMode = line.silent;

	switch (line.command) {
	case commandEnable:
		return reported(line, Tendwell_Enable());
	case commandDisable:
		return reported(line, Tendwell_Disable());
	case commandMarkActive:
		return reported(line, Tendwell_MarkActive());
	case commandPostAppState:
		return reported(line, Tendwell_PostAppState(line.operand));
	case commandIsEnabled:
		return isEnabled();
	case commandGetAppStatus:
		return getAppStatus();
	case commandRunAsAgent:
		return runAgent(line.word);
	case commandWatch:
		return startWatch(invocationName, line.silent, line.watchArgCount, line.watchArgs);
	case commandStatus:
		return startStatus(invocationName, line.watchArgCount, line.watchArgs);
	case commandService:
		return pulsewardenService(invocationName, line.silent, line.watchArgCount, line.watchArgs);
	case commandHelp:
		return help(invocationName);
	case commandNone:
		break;
	}
	return usage(invocationName);
}
