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

bool parseDuration(const char *text, int64_t *ns)
{
	size_t digits = strspn(text, "0123456789");
	const char *unit = text + digits;
	int64_t scale = strcmp(unit, "ms") == 0 ? nsPerMs
		: strcmp(unit, "s") == 0 || !*unit ? nsPerS
		: strcmp(unit, "m") == 0 ? 60 * nsPerS
		: 0;
	char number[16];
	int64_t value;
	if (scale == 0 || digits == 0 || digits >= sizeof number)
		return false;
	memcpy(number, text, digits);
	number[digits] = '\0';
	if (!parseCount(number, maxDurationNs / nsPerMs, &value) || value > maxDurationNs / scale)
		return false;
	*ns = value * scale;
	return true;
}

void formatDuration(int64_t ns, char *text, size_t size)
{
	if (ns % nsPerS != 0)
		snprintf(text, size, "%lld ms", static_cast<long long>(ns / nsPerMs));
	else if (ns % (60 * nsPerS) == 0)
		snprintf(text, size, "%lld min", static_cast<long long>(ns / (60 * nsPerS)));
	else
		snprintf(text, size, "%lld s", static_cast<long long>(ns / nsPerS));
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

bool parseWatchOptions(int argc, char **argv, WatchOptions *o, char *why, size_t size)
{
	*o = WatchOptions{10 * nsPerS, 5 * nsPerS, 30 * nsPerS, false, 1, 1, 0, 0, 0, nullptr};
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
	};
	int i = 0;
	for (; i < argc && argv[i][0] == '-'; i++) {
		const char *arg = argv[i];
		if (strcmp(arg, "--") == 0) {
			i++;
			break;
		}
		if (strcmp(arg, "-s") == 0 || strcmp(arg, "--silent") == 0) {
			silentMode = true;
			continue;
		}
		if (strcmp(arg, "--enable") == 0) {
			o->enable = true;
			continue;
		}
		const char *name = arg;
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
				return false;
			}
			if (v.duration ? !parseDuration(value, v.ns) : !parseCount(value, 1000000, &count)) {
				say(why, size, "%s: \"%s\" is not %s", v.name, value,
					v.duration ? "a duration (a whole number with ms, s or m)" : "a positive whole number");
				return false;
			}
			if (!v.duration)
				*v.count = static_cast<int>(count);
		}
		if (known)
			continue;
		if (strncmp(arg, "--pid", 5) == 0 && (arg[5] == '\0' || arg[5] == '=')) {
			const char *value = valueOf("--pid", argc, argv, &i);
			int64_t pid;
			if (!value || !parseCount(value, 0x7fffffff, &pid)) {
				say(why, size, "--pid: \"%s\" is not a process id", value ? value : "");
				return false;
			}
			o->pid = static_cast<long>(pid);
			continue;
		}
		say(why, size, "\"%s\" is not an option of watch", name);
		return false;
	}
	if (i < argc)
		o->check = argv + i;
	if (o->pid && o->check) {
		say(why, size, "a check and --pid exclude each other");
		return false;
	}
	if (!o->pid && !o->check) {
		say(why, size, "a check to run, or --pid, is needed");
		return false;
	}
	// A process watched takes no time to check.
	int64_t timeoutNs = o->pid ? 0 : o->timeoutNs;
	if (o->intervalNs + timeoutNs >= o->windowNs) {
		char interval[32];
		char timeout[32];
		char window[32];
		formatDuration(o->intervalNs, interval, sizeof interval);
		formatDuration(o->timeoutNs, timeout, sizeof timeout);
		formatDuration(o->windowNs, window, sizeof window);
		say(why, size, "the interval (%s) and the timeout (%s) must add up to less than the window (%s), "
			"or the platform sees a gap between heartbeats of a healthy application",
			interval, timeout, window);
		return false;
	}
	return true;
}
