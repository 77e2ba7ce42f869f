// --service on Linux: the unit's ActiveState, asked of systemd over D-Bus
// through libsystemd, loaded when a --service probe is given. A connection
// of its own each run: a restarted bus or systemd is no matter.
#include "probe.h"

#include "core/duration.h"
#include "system.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

static struct {
	decltype(&sd_bus_open_system) openSystem;
	decltype(&sd_bus_set_method_call_timeout) setTimeout;
	decltype(&sd_bus_path_encode) pathEncode;
	decltype(&sd_bus_get_property_string) getString;
	decltype(&sd_bus_error_free) errorFree;
	decltype(&sd_bus_flush_close_unref) closeUnref;
	bool loaded;
} bus;

static bool loadSystemd(char *why, size_t size)
{
	if (bus.loaded)
		return true;
	void *library = loadSystemLibrary("libsystemd.so.0");
	if (!library) {
		snprintf(why, size, "libsystemd is not installed (install the package libsystemd0)");
		return false;
	}
	if (!findFunction(library, "sd_bus_open_system", &bus.openSystem)
		|| !findFunction(library, "sd_bus_set_method_call_timeout", &bus.setTimeout)
		|| !findFunction(library, "sd_bus_path_encode", &bus.pathEncode)
		|| !findFunction(library, "sd_bus_get_property_string", &bus.getString)
		|| !findFunction(library, "sd_bus_error_free", &bus.errorFree)
		|| !findFunction(library, "sd_bus_flush_close_unref", &bus.closeUnref)) {
		snprintf(why, size, "the libsystemd installed is too old (libsystemd0 240 or later is needed)");
		return false;
	}
	bus.loaded = true;
	return true;
}

// One of the unit's properties; a negative errno when it cannot be had.
static int unitProperty(sd_bus *connection, const char *path, const char *name, char **value, char *why,
	size_t size);

// Where systemd is not the system's manager, nothing would ever answer:
// refused, rather than failed at every tick. Where it is, and does not
// answer yet (early in boot), it is asked again at each tick.
bool serviceProbeReady(const char *name, char *why, size_t size)
{
	if (const char *problem = systemdUnitProblem(name)) {
		snprintf(why, size, "%s", problem);
		return false;
	}
	if (!loadSystemd(why, size))
		return false;
	if (access("/run/systemd/system", F_OK) == 0)
		return true;
	sd_bus *connection = nullptr;
	char reason[200] = "";
	char *state = nullptr;
	int r = bus.openSystem(&connection);
	if (r >= 0) {
		bus.setTimeout(connection, 2000000);
		r = unitProperty(connection, "/org/freedesktop/systemd1/unit/init_2escope", "ActiveState", &state, reason,
			sizeof reason);
		free(state);
		bus.closeUnref(connection);
	} else {
		snprintf(reason, sizeof reason, "%s", strerror(-r));
	}
	if (r >= 0)
		return true;
	lowerFirst(reason);
	snprintf(why, size, "systemd does not run here (%s)", reason);
	return false;
}
static int unitProperty(sd_bus *connection, const char *path, const char *name, char **value, char *why,
	size_t size)
{
	sd_bus_error error = {};
	int r = bus.getString(connection, "org.freedesktop.systemd1", path, "org.freedesktop.systemd1.Unit", name, &error,
		value);
	if (r < 0)
		snprintf(why, size, "%s", error.message ? error.message : strerror(-r));
	bus.errorFree(&error);
	return r;
}

void runServiceProbe(const char *name, const ProbeSetting &setting, ProbeResult *result)
{
	// A bare name is a service, as systemctl takes it.
	char unit[512];
	snprintf(unit, sizeof unit, "%s%s", name, strchr(name, '.') ? "" : ".service");
	sd_bus *connection = nullptr;
	int r = bus.openSystem(&connection);
	if (r < 0) {
		char reason[160];
		snprintf(reason, sizeof reason, "%s", strerror(-r));
		lowerFirst(reason);
		probeFailed(result, "cannot reach systemd: %s", reason);
		return;
	}
	bus.setTimeout(connection, static_cast<uint64_t>(setting.timeoutNs / 1000));
	// Asked by its object's path, systemd loads a unit not loaded yet, as
	// systemctl is-active has it.
	char *path = nullptr;
	char *state = nullptr;
	char *loaded = nullptr;
	char why[256] = "";
	if (bus.pathEncode("/org/freedesktop/systemd1/unit", unit, &path) < 0) {
		probeFailed(result, "out of memory");
	} else if ((r = unitProperty(connection, path, "ActiveState", &state, why, sizeof why)) < 0) {
		if (r == -ETIMEDOUT)
			result->timedOut = true;
		else
			probeFailed(result, "cannot ask systemd: %s", why);
	} else if (strcmp(state, "active") == 0 || strcmp(state, "reloading") == 0) {
		// Reloading, it still runs.
		result->passed = true;
	} else if (unitProperty(connection, path, "LoadState", &loaded, why, sizeof why) >= 0
		&& strcmp(loaded, "not-found") == 0) {
		probeFailed(result, "no such unit");
	} else {
		probeFailed(result, "%s", state);
	}
	free(loaded);
	free(state);
	free(path);
	bus.closeUnref(connection);
}
