#include "service_end.h"

#include "exit_status.h"
#include "service_windows.h"

#include <cstdio>

// What an exit status means, for the event log's last line.
static const char *meaning(int status)
{
	static const struct {
		int status;
		const char *words;
	} table[] = {
		{2, "not a Corvane virtual machine"},
		{3, "application monitoring is off"},
		{4, "application monitoring is not supported"},
		{exitUsage, "a command line it cannot use"},
		{exitCheckUnusable, "a check or probe that cannot work"},
		{exitStartTimeout, "not healthy within its start timeout"},
		{exitPidGone, "the process it watched has ended"},
		{exitDisableFailed, "monitoring could not be switched off"},
		{exitAnotherWatcher, "another watcher runs"},
		{exitNoRuntimeDir, "its runtime directory cannot be used"},
		{0, "a failure: see the lines before"},
	};
	size_t i = 0;
	while (table[i].status && table[i].status != status)
		i++;
	return table[i].words;
}

bool restartCannotHelp(int status)
{
	return status == 2 || status == 4 || status == exitUsage || status == exitCheckUnusable
		|| status == exitAnotherWatcher || status == exitNoRuntimeDir;
}

// A stop asked for is never a failure, whatever its status (108 says
// itself): restarting it would undo the stop. Nor is a status a restart
// cannot help. Any other end is one.
ServiceEnd judgeServiceEnd(int status, bool stopAsked)
{
	ServiceEnd end = {};
	if (stopAsked || status == 0)
		return end;
	end.failure = !restartCannotHelp(status);
	if (end.failure)
		snprintf(end.line, sizeof end.line, "ended with status %d (%s): the service's recovery starts it again",
			status, meaning(status));
	else
		snprintf(end.line, sizeof end.line, "ended with status %d (%s): not restarted, as starting again cannot "
			"help; once that is mended: net start %s", status, meaning(status), serviceName);
	return end;
}
