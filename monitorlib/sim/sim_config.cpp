#include "sim_config.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

// An empty variable counts as unset, as the XDG variables do.
static const char *variable(const char *name)
{
	const char *value = getenv(name);
	return value && *value ? value : nullptr;
}

bool stateDirPath(char *path, size_t size)
{
	int n;
	if (const char *dir = variable("CORVANE_SIM_STATE_DIR"))
		n = snprintf(path, size, "%s", dir);
	else if (const char *runtime = variable("XDG_RUNTIME_DIR"))
		n = snprintf(path, size, "%s/corvane-sim", runtime);
	else
		n = snprintf(path, size, "/tmp/corvane-sim-%lu", static_cast<unsigned long>(geteuid()));
	return n > 0 && static_cast<size_t>(n) < size;
}

int64_t heartbeatWindowSeconds()
{
	const char *text = variable("CORVANE_SIM_HEARTBEAT_TIMEOUT");
	if (!text)
		return defaultWindowSeconds;
	int64_t seconds = 0;
	for (const char *p = text; *p; p++) {
		if (*p < '0' || *p > '9')
			return defaultWindowSeconds;
		if (seconds < maxWindowSeconds)
			seconds = seconds * 10 + (*p - '0');
	}
	if (seconds == 0)
		return defaultWindowSeconds;
	return seconds < maxWindowSeconds ? seconds : maxWindowSeconds;
}
