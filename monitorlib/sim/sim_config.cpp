#include "sim_config.h"

#include "sim_platform.h"

#include <cstdio>
#include <cstdlib>

// An empty variable counts as unset, as the XDG variables do.
static const char *variable(const char *name)
{
	const char *value = getenv(name);
	return value && *value ? value : nullptr;
}

bool stateDirPath(char *path, size_t size)
{
	const char *dir = variable("CORVANE_SIM_STATE_DIR");
	if (!dir)
		return defaultStateDirPath(path, size);
	int n = snprintf(path, size, "%s", dir);
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
