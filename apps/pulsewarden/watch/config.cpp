// The configuration files, found and read whole; see config.h.
#include "config.h"

#include "console.h"
#include "core/probe_target.h"
#include "files.h"
#include "probes/probe.h"
#include "system.h"
#include "system/check_user.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Configuration management writes kilobytes: a megabyte is a mistake.
const size_t mostBytes = 1 << 20;

struct Loading {
	WatchConfig *config;
	ConfigFault fault;
	void *context;
	bool usable;
};

bool readOne(const char *path, void *argument)
{
	auto *l = static_cast<Loading *>(argument);
	char why[1200];
	char *text;
	size_t length;
	// What names the program root runs is judged as that program is: a
	// file others may change is not read, nor a FIFO waited on.
	if (!readInput(path, mostBytes, &text, &length, why, sizeof why)) {
		l->fault(why, true, l->context);
		l->usable = false;
		return true;
	}
	// A file that cannot be used adds nothing: what the others say is read
	// onto the configuration as it was before it.
	WatchConfig *before = static_cast<WatchConfig *>(malloc(sizeof *before));
	if (before)
		memcpy(before, l->config, sizeof *before);
	if (!readConfigText(path, text, length, l->config, why, sizeof why)) {
		// A fault a line.
		for (char *line = why; *line;) {
			size_t n = strcspn(line, "\n");
			bool more = line[n] == '\n';
			line[n] = '\0';
			l->fault(line, false, l->context);
			line += n + more;
		}
		l->usable = false;
		if (before)
			memcpy(l->config, before, sizeof *before);
	}
	free(before);
	free(text);
	return true;
}

}  // namespace

bool loadConfig(const char *file, WatchConfig *config, ConfigFault fault, void *context)
{
	Loading l = {config, fault, context, true};
	readOne(file, &l);
	char dir[4096];
	snprintf(dir, sizeof dir, "%s", file);
	char *slash = strrchr(dir, '/');
#ifdef _WIN32
	char *backslash = strrchr(dir, '\\');
	if (!slash || (backslash && backslash > slash))
		slash = backslash;
#endif
	if (slash)
		slash[1] = '\0';
	else
		dir[0] = '\0';
	size_t used = strlen(dir);
	snprintf(dir + used, sizeof dir - used, "watch.d");
	char why[1200];
	if (pathExists(dir) && !inputTrusted(dir, true, why, sizeof why)) {
		fault(why, true, context);
		return false;
	}
	if (!eachFileEndingIn(dir, ".toml", readOne, &l, why, sizeof why)) {
		char line[1400];
		snprintf(line, sizeof line, "%s: cannot read it: %s", dir, why);
		fault(line, true, context);
		l.usable = false;
	}
	return l.usable;
}

bool gatherConfiguration(const WatchOptions &line, WatchConfig *files, bool *silent, ConfigFault fault, void *context)
{
	WatchOptions *o = &files->options;
	startConfig(files);
	if (!line.config) {
		*o = line;
		return true;
	}
	if (!loadConfig(line.config, files, fault, context))
		return false;
	char why[512];
	ProblemParts parts = {0, false, -1};
	if (!layOver(o, line))
		snprintf(why, sizeof why, "at most %d probes, the files' and the command line's together",
			static_cast<int>(maxProbes));
	else if (!watchOptionsProblem(*o, why, sizeof why, &parts))
		why[0] = '\0';
	if (why[0]) {
		// At the value read last of those it comes from, which a drop-in may
		// hold; else the file named.
		char place[4200];
		if (!placeOf(*files, parts, line, place, sizeof place))
			snprintf(place, sizeof place, "%s", line.config);
		char text[4800];
		snprintf(text, sizeof text, "%s: %s", place, why);
		fault(text, false, context);
		return false;
	}
	*silent = *silent || files->silent;
	return true;
}

// The script an interpreter named as the check runs ("/bin/sh
// /opt/app/check.sh", "cmd /c C:\checks\app.cmd"): its first word that
// is no option, when it is a file. Null for none.
static const char *scriptRun(char *const *check)
{
	static const char *const interpreters[] = {"sh", "bash", "dash", "ksh", "zsh", "python", "python3", "perl", "ruby",
		"node", "php", "lua", "cmd", "powershell", "pwsh", nullptr};
	const char *base = check[0];
	for (const char *c = check[0]; *c; c++)
		if (*c == '/' || *c == pathSeparator)
			base = c + 1;
	// Windows names it in any case, with or without its suffix; judging
	// one script too many costs nothing.
	char name[32];
	size_t length = strlen(base);
	if (length >= sizeof name)
		return nullptr;
	for (size_t i = 0; i <= length; i++)
		name[i] = static_cast<char>(tolower(static_cast<unsigned char>(base[i])));
	if (length > 4 && strcmp(name + length - 4, ".exe") == 0)
		name[length - 4] = '\0';
	size_t i = 0;
	while (interpreters[i] && strcmp(interpreters[i], name) != 0)
		i++;
	if (!interpreters[i])
		return nullptr;
	for (int at = 1; check[at]; at++) {
		if (check[at][0] == '-' || (pathSeparator == '\\' && check[at][0] == '/')) {
			// The script is a text of the command line's own, not a file.
			if (strcmp(check[at], "-c") == 0 || strcmp(check[at], "-e") == 0 || strcmp(check[at], "-Command") == 0)
				return nullptr;
			continue;
		}
		return (strchr(check[at], '/') || strchr(check[at], pathSeparator)) && pathExists(check[at]) ? check[at]
			: nullptr;
	}
	return nullptr;
}

bool watchedPartsUsable(const WatchOptions &o, CheckUser **user, char *why, size_t size)
{
	char reason[400];
	CheckUser *runAs = nullptr;
	if (o.check && o.checkUser && !(runAs = lookUpCheckUser(o.checkUser, reason, sizeof reason))) {
		snprintf(why, size, "cannot start the check: %s", reason);
		return false;
	}
	const char *script = o.check ? scriptRun(o.check) : nullptr;
	if (o.check
		&& (!checkProgramTrusted(o.check[0], runAs, reason, sizeof reason)
			|| (script && writableByOthers(script, reason, sizeof reason)))) {
		releaseCheckUser(runAs);
		snprintf(why, size, "cannot start the check: %s", reason);
		return false;
	}
	if (user)
		*user = runAs;
	else
		releaseCheckUser(runAs);
	for (int i = 0; i < o.probeCount; i++) {
		if (!probeReady(o.probes[i], reason, sizeof reason)) {
			char shown[300];
			probeShownTarget(o.probes[i], shown, sizeof shown);
			snprintf(why, size, "cannot use %s %s: %s", probeOption(o.probes[i].kind), shown, reason);
			return false;
		}
	}
	// A directory not made yet is no reason: it is tried again each tick.
	if (o.metricsFile && neverReplaceable(o.metricsFile, reason, sizeof reason)) {
		lowerFirst(reason);
		snprintf(why, size, "cannot write the metrics file %s: %s", o.metricsFile, reason);
		return false;
	}
	return true;
}
