// Windows: what installing watch as a service needs to know of watch,
// worked out here so that the service (service/) knows watch by watch.h
// alone: the arguments judged and the files checked as the service will
// read them, its command line with every path made full (a service starts
// in the system's directory), and the places its account reads or writes.
#include "watch.h"

#include "config.h"
#include "console.h"
#include "core/watch_options.h"
#include "exit_status.h"
#include "files.h"
#include "system.h"
#include "system/events.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

// A path inside `arg` (the argument itself, or after "--file=",
// "--metrics-file=" or "--config="): a --file probe's, the configuration's
// or the metrics file's; else null.
static const char *filePathIn(const WatchOptions &o, const char *arg)
{
	size_t length = strlen(arg);
	auto within = [&](const char *path) { return path && path >= arg && path <= arg + length; };
	for (int i = 0; i < o.probeCount; i++)
		if (o.probes[i].kind == probeFile && within(o.probes[i].target))
			return o.probes[i].target;
	if (within(o.config))
		return o.config;
	return within(o.metricsFile) ? o.metricsFile : nullptr;
}

// The service's command line: the tool and every path in full, and the
// arguments otherwise exactly as given.
static bool serviceCommandLine(const WatchOptions &o, bool silent, int argc, char **argv, char *line, size_t size)
{
	char self[MAX_PATH];
	DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
	if (n == 0 || n >= sizeof self)
		return false;
	size_t at = 0;
	line[0] = '\0';
	bool fits = appendArgument(line, size, &at, self) && appendArgument(line, size, &at, "service")
		&& appendArgument(line, size, &at, "run") && (!silent || appendArgument(line, size, &at, "-s"));
	for (int k = 0; fits && k < argc; k++) {
		const char *arg = argv[k];
		char full[MAX_PATH + 16];
		if (o.check && argv + k == o.check) {
			if (findCheckProgram(arg, full, sizeof full))
				arg = full;
		} else if (const char *path = filePathIn(o, arg)) {
			int prefix = static_cast<int>(path - arg);
			char absolute[MAX_PATH];
			DWORD made = GetFullPathNameA(path, sizeof absolute, absolute, nullptr);
			if (made > 0 && made < sizeof absolute) {
				snprintf(full, sizeof full, "%.*s%s", prefix, arg, absolute);
				arg = full;
			}
		}
		fits = appendArgument(line, size, &at, arg);
	}
	return fits;
}

static void place(WatchServicePlan *plan, const char *path, bool write)
{
	if (plan->placeCount >= static_cast<int>(sizeof plan->places / sizeof plan->places[0]))
		return;
	snprintf(plan->places[plan->placeCount].path, sizeof plan->places[0].path, "%s", path);
	plan->places[plan->placeCount++].write = write;
}

// What the account reads: the configuration, its drop-ins, the headers
// files; and writes: the metrics file's directory.
static void places(const WatchOptions &o, WatchServicePlan *plan)
{
	if (o.config) {
		place(plan, o.config, false);
		char dropIns[MAX_PATH];
		snprintf(dropIns, sizeof dropIns, "%s", o.config);
		char *cut = strrchr(dropIns, '\\');
		if (cut && snprintf(cut + 1, sizeof dropIns - static_cast<size_t>(cut + 1 - dropIns), "watch.d") > 0
			&& pathExists(dropIns))
			place(plan, dropIns, false);
	}
	if (o.metricsFile) {
		char dir[MAX_PATH];
		snprintf(dir, sizeof dir, "%s", o.metricsFile);
		if (char *cut = strrchr(dir, '\\'))
			*cut = '\0';
		place(plan, dir, true);
	}
	for (int i = 0; i < o.probeCount; i++)
		if (o.probes[i].headersFile)
			place(plan, o.probes[i].headersFile, false);
}

static void sayFault(const char *line, bool /*refused*/, void * /*context*/)
{
	printTo(stderr, "service install: %s\n", line);
}

int planWatchService(bool silent, int argc, char **argv, const char *defaultConfig, WatchServicePlan *plan)
{
	static WatchOptions line;
	plan->usage[0] = '\0';
	plan->help = false;
	plan->placeCount = 0;
	WatchParse parse = parseWatchOptions(argc, argv, &line, &silent, plan->usage, sizeof plan->usage);
	// Nothing to watch named: the machine's configuration file, which the
	// installer writes for Administrators and SYSTEM alone.
	static char *withConfig[1024];
	if (parse == watchUnusable && !line.config && defaultConfig && argc + 2 < 1024) {
		for (int i = 0; i < argc; i++)
			withConfig[i] = argv[i];
		withConfig[argc] = const_cast<char *>("--config");
		withConfig[argc + 1] = const_cast<char *>(defaultConfig);
		char ignored[600];
		if (parseWatchOptions(argc + 2, withConfig, &line, &silent, ignored, sizeof ignored) == watchUsable) {
			parse = watchUsable;
			plan->usage[0] = '\0';
			argc += 2;
			argv = withConfig;
		}
	}
	// --help or --version after install: the service's help, which names
	// its --version.
	if (parse == watchHelp || parse == watchVersion) {
		plan->help = true;
		return exitUsage;
	}
	if (parse == watchUnusable)
		return exitUsage;
	// The files are checked as the service will read them, and read again
	// by it at each start and each service reload.
	static WatchConfig files;
	if (!gatherConfiguration(line, &files, &silent, sayFault, nullptr))
		return exitUsage;
	const WatchOptions &o = files.options;
	if (o.pid) {
		snprintf(plan->usage, sizeof plan->usage, "--pid names a process of this boot, which the service outlives: "
			"give it a check or a probe");
		return exitUsage;
	}
	char why[600];
	if (!watchedPartsUsable(o, nullptr, why, sizeof why)) {
		printTo(stderr, "service install: %s\n", why);
		return exitCheckUnusable;
	}
	if (!serviceCommandLine(line, silent, argc, argv, plan->commandLine, sizeof plan->commandLine)) {
		snprintf(plan->usage, sizeof plan->usage, "the service's command line is too long");
		return exitUsage;
	}
	places(o, plan);
	return 0;
}
