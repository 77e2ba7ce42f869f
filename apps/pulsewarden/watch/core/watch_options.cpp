#include "watch_options.h"

#include "console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

static bool parseCount(const char *text, int64_t limit, int64_t *value)
{
	int64_t v = 0;
	if (!*text || (text[0] == '0' && text[1]))
		return false;
	for (const char *p = text; *p; p++) {
		if (*p < '0' || *p > '9' || v > (limit - (*p - '0')) / 10)
			return false;
		v = v * 10 + (*p - '0');
	}
	*value = v;
	return v > 0;
}

static void say(char *why, size_t size, const char *format, ...) PRINTF_LIKE(3, 4);

static void say(char *why, size_t size, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	vsnprintf(why, size, format, ap);
	va_end(ap);
}

// An option's value: "--name value" or "--name=value". Null when absent.
static const char *valueOf(const char *name, int argc, char **argv, int *i)
{
	size_t n = strlen(name);
	if (strncmp(argv[*i], name, n) == 0 && argv[*i][n] == '=')
		return argv[*i] + n + 1;
	return ++*i < argc ? argv[*i] : nullptr;
}

WatchParse parseWatchOptions(int argc, char **argv, WatchOptions *o, bool *silent, char *why, size_t size)
{
	*o = WatchOptions{};
	o->intervalNs = 10 * nsPerS;
	o->timeoutNs = 5 * nsPerS;
	o->windowNs = 30 * nsPerS;
	o->fall = 1;
	o->rise = 1;
	const struct {
		const char *name;
		bool duration;   // else a count
		int64_t *ns;
		int *count;
	} valued[] = {
		{"--interval", true, &o->intervalNs, nullptr},
		{"--timeout", true, &o->timeoutNs, nullptr},
		{"--window", true, &o->windowNs, nullptr},
		{"--start-timeout", true, &o->startTimeoutNs, nullptr},
		{"--fall", false, nullptr, &o->fall},
		{"--rise", false, nullptr, &o->rise},
		{"--need-reset-after", false, nullptr, &o->needResetAfter},
		{"--max-age", true, &o->maxAgeNs, nullptr},
	};
	int i = 0;
	for (; i < argc && argv[i][0] == '-'; i++) {
		const char *arg = argv[i];
		if (strcmp(arg, "--") == 0) {
			i++;
			break;
		}
		if (strcmp(arg, "--help") == 0)
			return watchHelp;
		if (strcmp(arg, "-s") == 0 || strcmp(arg, "--silent") == 0) {
			*silent = true;
			continue;
		}
		if (strcmp(arg, "--enable") == 0) {
			o->enable = true;
			continue;
		}
		if (strcmp(arg, "--insecure") == 0) {
			o->insecure = true;
			continue;
		}
		size_t nameLength = strcspn(arg, "=");
		bool known = false;
		for (const auto &v : valued) {
			if (strlen(v.name) != nameLength || strncmp(v.name, arg, nameLength) != 0)
				continue;
			known = true;
			const char *value = valueOf(v.name, argc, argv, &i);
			int64_t count;
			if (!value) {
				say(why, size, "%s needs a value", v.name);
				return watchUnusable;
			}
			if (v.duration) {
				if (const char *problem = durationProblem(value, v.ns)) {
					say(why, size, "%s: \"%s\" %s", v.name, value, problem);
					return watchUnusable;
				}
			} else if (!parseCount(value, 1000000, &count)) {
				say(why, size, "%s: \"%s\" is not a whole number from 1 to 1000000", v.name, value);
				return watchUnusable;
			} else {
				*v.count = static_cast<int>(count);
			}
		}
		if (known)
			continue;
		char option[16];
		ProbeKind kind;
		snprintf(option, sizeof option, "%.*s", static_cast<int>(nameLength < 15 ? nameLength : 15), arg);
		if (probeKindNamed(option, &kind)) {
			const char *value = valueOf(option, argc, argv, &i);
			if (!value) {
				say(why, size, "%s needs a value", option);
				return watchUnusable;
			}
			if (o->probeCount == maxProbes) {
				say(why, size, "at most %d probes", static_cast<int>(maxProbes));
				return watchUnusable;
			}
			o->probes[o->probeCount++] = Probe{kind, value};
			continue;
		}
		if (strncmp(arg, "--metrics-file", 14) == 0 && (arg[14] == '\0' || arg[14] == '=')) {
			const char *value = valueOf("--metrics-file", argc, argv, &i);
			if (!value || !*value) {
				say(why, size, "--metrics-file needs a path");
				return watchUnusable;
			}
			o->metricsFile = value;
			continue;
		}
		if (strncmp(arg, "--pid", 5) == 0 && (arg[5] == '\0' || arg[5] == '=')) {
			const char *value = valueOf("--pid", argc, argv, &i);
			int64_t pid;
			if (!value || !parseCount(value, 0x7fffffff, &pid)) {
				say(why, size, "--pid: \"%s\" is not a process id", value ? value : "");
				return watchUnusable;
			}
			o->pid = static_cast<long>(pid);
			continue;
		}
		say(why, size, "\"%s\" is not an option of watch", arg);
		return watchUnusable;
	}
	if (i < argc)
		o->check = argv + i;
	if (o->pid && (o->check || o->probeCount)) {
		say(why, size, "%s and --pid exclude each other", o->check ? "a check" : "a probe");
		return watchUnusable;
	}
	if (!o->pid && !o->check && !o->probeCount) {
		say(why, size, "a probe or a check to run, or --pid, is needed");
		return watchUnusable;
	}
	char interval[32];
	char timeout[32];
	char window[32];
	formatDuration(o->intervalNs, interval, sizeof interval);
	formatDuration(o->timeoutNs, timeout, sizeof timeout);
	formatDuration(o->windowNs, window, sizeof window);
	// A process watched takes no time to check: its timeout is not used.
	if (o->pid && o->intervalNs >= o->windowNs) {
		say(why, size, "the interval (%s) must be less than the window (%s), or the platform sees a gap "
			"between heartbeats while the process runs", interval, window);
		return watchUnusable;
	}
	if (!o->pid && o->intervalNs + o->timeoutNs >= o->windowNs) {
		say(why, size, "the interval (%s) and the timeout (%s) must add up to less than the window (%s), "
			"or the platform sees a gap between heartbeats of a healthy application",
			interval, timeout, window);
		return watchUnusable;
	}
	return watchUsable;
}
