// How the service's end is told to the service control manager: a
// failure, which the service's recovery restarts, or not; and the line the
// event log gets for it.
#pragma once

struct ServiceEnd {
	bool failure;
	char line[300];   // empty: the watcher's own lines say it all
};

ServiceEnd judgeServiceEnd(int status, bool stopAsked);

// The statuses a restart cannot help, as the systemd unit's
// RestartPreventExitStatus lists them.
bool restartCannotHelp(int status);
