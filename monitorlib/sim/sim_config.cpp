#include "sim_config.h"

#include "sim_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// An empty variable counts as unset, as the XDG variables do.
static const char *variable(const char *name)
{
	const char *value = getenv(name);
	return value && *value ? value : nullptr;
}

static bool isSeparator(char c)
{
	return c != '\0' && strchr(pathSeparators, c) != nullptr;
}

// "dir/", "dir//" and "dir/." all name dir itself; only without them does
// the last name stand for the directory, link or not.
static void trimEnd(char *path)
{
	size_t n = strlen(path);
	for (;;) {
		if (n > 1 && isSeparator(path[n - 1]))
			n--;
		else if (n > 2 && path[n - 1] == '.' && isSeparator(path[n - 2]))
			n -= 2;
		else
			break;
	}
	path[n] = '\0';
}

bool stateDirPath(char *path, size_t size, bool *fromEnvironment, Reason *why)
{
	const char *dir = variable("CORVANE_SIM_STATE_DIR");
	*fromEnvironment = dir != nullptr;
	if (!dir) {
		if (!defaultStateDirPath(path, size, why))
			return false;
	} else {
		int n = snprintf(path, size, "%s", dir);
		if (n <= 0 || static_cast<size_t>(n) >= size) {
			say(why, "CORVANE_SIM_STATE_DIR is too long");
			return false;
		}
	}
	trimEnd(path);
	return true;
}

WindowSetting windowFromEnvironment(int64_t *ns)
{
	const char *text = variable("CORVANE_SIM_HEARTBEAT_TIMEOUT");
	if (!text)
		return windowUnset;
	return parseSeconds(text, strlen(text), false, ns) ? windowSet : windowInvalid;
}
