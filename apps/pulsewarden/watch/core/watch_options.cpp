#include "watch_options.h"

#include "format_attribute.h"
#include "full_path.h"
#include "text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

// The rows by kind: what each stores, and the value's name the help shows.
static constexpr OptionRow probe(const char *name, const char *value, const char *help, ProbeKind kind)
{
	OptionRow r = {};
	r.name = name, r.kind = optionProbe, r.value = value, r.help = help, r.probe = kind;
	return r;
}
static constexpr OptionRow duration(const char *name, const char *help, int64_t WatchOptions::*field)
{
	OptionRow r = {};
	r.name = name, r.kind = optionDuration, r.value = "D", r.help = help, r.duration = field;
	return r;
}
static constexpr OptionRow count(const char *name, const char *help, int WatchOptions::*field)
{
	OptionRow r = {};
	r.name = name, r.kind = optionCount, r.value = "N", r.help = help, r.count = field;
	return r;
}
static constexpr OptionRow flag(const char *name, const char *help, bool WatchOptions::*field)
{
	OptionRow r = {};
	r.name = name, r.kind = optionFlag, r.help = help, r.flag = field;
	return r;
}
static constexpr OptionRow path(const char *name, const char *value, const char *help,
	const char *WatchOptions::*field)
{
	OptionRow r = {};
	r.name = name, r.kind = optionPath, r.value = value, r.help = help, r.path = field;
	return r;
}
static constexpr OptionRow other(const char *name, OptionKind kind, const char *value, const char *help)
{
	OptionRow r = {};
	r.name = name, r.kind = kind, r.value = value, r.help = help;
	return r;
}
static constexpr OptionRow headed(const char *heading, OptionRow r)
{
	r.heading = heading;
	return r;
}
static constexpr OptionRow commandLineOnly(OptionRow r)
{
	r.commandLineOnly = true;
	return r;
}
static constexpr OptionRow startOnly(OptionRow r)
{
	r.startOnly = true;
	return r;
}

const OptionRow optionTable[] = {
	headed("Probes, any number, checked by the watcher itself:",
		probe("--http", "URL", "a GET answers 200 to 399 (https: the certificate is checked)", probeHttp)),
	probe("--tcp", "HOST:PORT", "a connection is accepted ([ADDRESS]:PORT for IPv6)", probeTcp),
	probe("--process", "NAME", "a process of that name runs", probeProcess),
	probe("--service", "NAME", "the service runs (systemd's ActiveState is active)", probeService),
	probe("--file", "PATH", "the file was modified within --max-age", probeFile),
	duration("--max-age", "for --file (default: the window)", &WatchOptions::maxAgeNs),
	flag("--insecure", "for --http: no certificate or host name check", &WatchOptions::insecure),
	headed("", duration("--interval", "start a check this often (default 10s)", &WatchOptions::intervalNs)),
	duration("--timeout", "a check still running after this has failed (default 5s)", &WatchOptions::timeoutNs),
	duration("--window", "the platform's heartbeat window (default 30s); the\n"
		"interval and the timeout must add up to less", &WatchOptions::windowNs),
	startOnly(flag("--enable", "monitoring on while watching; an orderly stop (SIGTERM,\n"
		"SIGINT) switches it off", &WatchOptions::enable)),
	count("--fall", "failed checks in a row before heartbeats stop (default 1)", &WatchOptions::fall),
	count("--rise", "passing checks in a row before they start again (default 1)", &WatchOptions::rise),
	count("--need-reset-after", "post appStateNeedReset after N failed checks in a row", &WatchOptions::needResetAfter),
	startOnly(duration("--start-timeout", "end with 106 if no check has passed within D",
		&WatchOptions::startTimeoutNs)),
	duration("--unchecked-limit", "nothing checkable for D, for the watcher's own fault\n"
		"(a check that cannot start, a headers file opened to\n"
		"others): from then on a failure (default 10min)", &WatchOptions::uncheckedLimitNs),
	other("--pid", optionPid, "PID", "no check: a heartbeat every interval while PID runs"),
	path("--metrics-file", "PATH", "keep the figures there, in Prometheus's text format, for\n"
		"a node agent's textfile collector (removed at a stop)", &WatchOptions::metricsFile),
	startOnly(path("--runtime-dir", "DIR", "where the watcher holds its lock, one watcher a directory\n"
		"(default /run/pulsewarden for root; and one a machine\n"
		"whatever DIR)", &WatchOptions::runtimeDir)),
	other("--check-user", optionUser, "USER", "run the check as USER, with USER's groups and a clean\n"
		"environment (HOME, USER, LOGNAME, SHELL, PATH), as runuser does"),
	startOnly(path("--state-dir", "DIR", "what outlives a reboot: why the machine was reset\n"
		"(default /var/lib/pulsewarden for root)", &WatchOptions::stateDir)),
	other("--max-resets", optionResets, "N/D", "with --enable: hold, monitoring off, rather than let the\n"
		"platform reset the machine more than N times in D\n"
		"(default 3/24h; 0: never hold)"),
	other("--silent", optionSilent, nullptr, "hide the lines about healthy progress"),
	headed("Configuration files:",
		commandLineOnly(path("--config", "FILE", "read the options from FILE, then from each *.toml in\n"
			"watch.d beside it; the command line's win", &WatchOptions::config))),
	commandLineOnly(flag("--check-config", "check the configuration as a start would, and exit",
		&WatchOptions::checkConfig)),
	commandLineOnly(flag("--print", "with --check-config: the configuration in effect, as a\n"
		"file that --config reads", &WatchOptions::print)),
	commandLineOnly(flag("--condition", "with --check-config, as a service's start condition:\n"
		"exit 1, saying so in a line, when the files read whole\n"
		"name nothing to watch; else 0 (a start says what is wrong)", &WatchOptions::condition)),
	commandLineOnly(flag("--reload", "ask the running watcher to read them again (as SIGHUP\n"
		"does), and wait for its answer: 0 when it applied them;\n"
		"with --config, the watcher its runtime_dir names", &WatchOptions::reload)),
	commandLineOnly(flag("--release", "end a hold at once, and forgive the resets counted so\n"
		"far; the watcher need not run; with --config, the\n"
		"directories the files name", &WatchOptions::release)),
	commandLineOnly(other("--help", optionHelp, nullptr, "this text")),
	commandLineOnly(other("--version", optionVersion, nullptr, "say the version, and exit")),
	{},
};

// The row of an argument, "--name" or "--name=value" ("-s" is --silent's);
// the nameless row when none has it.
static const OptionRow *optionNamed(const char *arg)
{
	if (strcmp(arg, "-s") == 0)
		arg = "--silent";
	size_t length = strcspn(arg, "=");
	const OptionRow *row = optionTable;
	while (row->name && (strlen(row->name) != length || strncmp(row->name, arg, length) != 0))
		row++;
	return row;
}

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

static void because(char *why, size_t size, const char *format, ...) PRINTF_LIKE(3, 4);

static void because(char *why, size_t size, const char *format, ...)
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

// One option with its value, if it takes one; false, with why, when it is
// not usable.
static bool takeOption(const OptionRow &row, int argc, char **argv, int *i, WatchOptions *o, bool *silent, char *why,
	size_t size)
{
	if (row.kind == optionFlag || row.kind == optionSilent) {
		if (strchr(argv[*i], '=')) {
			because(why, size, "%s takes no value", row.name);
			return false;
		}
		if (row.kind == optionSilent)
			*silent = true;
		else
			o->*row.flag = true;
		return true;
	}
	const char *value = valueOf(row.name, argc, argv, i);
	if (!value || (!*value && row.kind == optionPath)) {
		because(why, size, "%s needs %s", row.name, row.kind == optionPath ? "a path" : "a value");
		return false;
	}
	int64_t number;
	switch (row.kind) {
	case optionDuration:
		if (const char *problem = durationProblem(value, &(o->*row.duration))) {
			because(why, size, "%s: \"%s\" %s", row.name, value, problem);
			return false;
		}
		return true;
	case optionCount:
		if (!parseCount(value, 1000000, &number)) {
			because(why, size, "%s: \"%s\" is not a whole number from 1 to 1000000", row.name, value);
			return false;
		}
		o->*row.count = static_cast<int>(number);
		return true;
	case optionPid:
		if (!parseCount(value, 0x7fffffff, &number)) {
			because(why, size, "%s: \"%s\" is not a process id", row.name, value);
			return false;
		}
		o->pid = static_cast<long>(number);
		return true;
	case optionResets:
		if (const char *problem = resetsProblem(value, &o->maxResets, &o->maxResetsPeriodNs)) {
			because(why, size, "%s: \"%s\" %s", row.name, value, problem);
			return false;
		}
		return true;
	case optionPath:
		// A service starts elsewhere than the operator stands; files
		// checked, or named to find a watcher, are read where the operator
		// stands (judged once the command line is read).
		if (!fullPath(value) && row.path != &WatchOptions::config) {
			because(why, size, "%s: \"%s\" is not a full path", row.name, value);
			return false;
		}
		o->*row.path = value;
		return true;
	case optionUser:
		if (const char *problem = userNameProblem(value)) {
			because(why, size, "%s: \"%s\" %s", row.name, value, problem);
			return false;
		}
		o->checkUser = value;
		return true;
	case optionProbe:
		if (o->probeCount == maxProbes) {
			because(why, size, "at most %d probes", static_cast<int>(maxProbes));
			return false;
		}
		o->probes[o->probeCount++] = Probe{row.probe, value};
		return true;
	case optionFlag:
	case optionSilent:
	case optionHelp:
	case optionVersion:
		break;
	}
	return true;
}

WatchParse parseWatchOptions(int argc, char **argv, WatchOptions *o, bool *silent, char *why, size_t size)
{
	setWatchDefaults(o);
	int i = 0;
	for (; i < argc && argv[i][0] == '-'; i++) {
		if (strcmp(argv[i], "--") == 0) {
			i++;
			break;
		}
		const OptionRow *row = optionNamed(argv[i]);
		if (!row->name) {
			because(why, size, "\"%s\" is not an option of watch", argv[i]);
			return watchUnusable;
		}
		if (row->kind == optionHelp)
			return watchHelp;
		if (row->kind == optionVersion)
			return watchVersion;
		if (!takeOption(*row, argc, argv, &i, o, silent, why, size))
			return watchUnusable;
		o->given |= uint64_t{1} << (row - optionTable);
	}
	if (i < argc)
		o->check = argv + i;
	if (o->config && !fullPath(o->config) && !o->checkConfig && !o->reload && !o->release) {
		because(why, size, "--config: \"%s\" is not a full path", o->config);
		return watchUnusable;
	}
	if (o->print && !o->checkConfig) {
		because(why, size, "--print goes with --check-config");
		return watchUnusable;
	}
	if (o->condition && (!o->checkConfig || o->print)) {
		because(why, size, "--condition goes with --check-config, and prints nothing");
		return watchUnusable;
	}
	// Asking the running watcher, it names only where that watcher is: its
	// directories, or the files that name them.
	if (o->reload || o->release) {
		uint64_t allowed = 0;
		for (const OptionRow *row = optionTable; row->name; row++)
			if (row->path == &WatchOptions::runtimeDir || row->path == &WatchOptions::config
				|| (o->release && row->path == &WatchOptions::stateDir)
				|| row->flag == (o->reload ? &WatchOptions::reload : &WatchOptions::release))
				allowed |= uint64_t{1} << (row - optionTable);
		if ((o->given & ~allowed) || o->check) {
			because(why, size, o->reload ? "--reload takes no option but --config and --runtime-dir"
				: "--release takes no option but --config, --state-dir and --runtime-dir");
			return watchUnusable;
		}
		return watchUsable;
	}
	// What the files say is laid under it before it is judged whole; a
	// start condition judges only whether there is anything to watch.
	if (o->config || o->condition)
		return watchUsable;
	return watchOptionsProblem(*o, why, size) ? watchUnusable : watchUsable;
}

void setWatchDefaults(WatchOptions *o)
{
	*o = WatchOptions{};
	o->intervalNs = 10 * nsPerS;
	o->timeoutNs = 5 * nsPerS;
	o->windowNs = 30 * nsPerS;
	o->uncheckedLimitNs = 600 * nsPerS;
	o->fall = 1;
	o->rise = 1;
	o->maxResets = -1;
	o->maxResetsPeriodNs = int64_t{24} * 3600 * nsPerS;
}

const char *userNameProblem(const char *name)
{
	size_t n = strlen(name);
	if (n == 0 || n > 32)
		return "is not a user's name (1 to 32 characters)";
	for (size_t i = 0; i < n; i++) {
		char c = name[i];
		bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
		if (!letter && !(c == '-' && i > 0) && !(c == '$' && i == n - 1 && i > 0))
			return "is not a user's name (letters, digits, '.', '_' and '-')";
	}
	return nullptr;
}

int resetLimit(const WatchOptions &o)
{
	return o.maxResets >= 0 ? o.maxResets : o.enable && !o.pid ? 3 : 0;
}

const char *resetsProblem(const char *text, int *count, int64_t *periodNs)
{
	if (strcmp(text, "0") == 0) {
		*count = 0;
		return nullptr;
	}
	const char *slash = strchr(text, '/');
	char number[16];
	int64_t n = 0;
	if (!slash || static_cast<size_t>(slash - text) >= sizeof number)
		return "is not N/D (such as 3/24h), or 0";
	snprintf(number, sizeof number, "%.*s", static_cast<int>(slash - text), text);
	if (!parseCount(number, 100, &n))
		return "is not N/D with N a whole number from 1 to 100";
	int64_t period = 0;
	if (durationProblem(slash + 1, &period))
		return "is not N/D with D a duration (such as 24h)";
	*count = static_cast<int>(n);
	*periodNs = period;
	return nullptr;
}

bool layOver(WatchOptions *files, const WatchOptions &line)
{
	for (const OptionRow *row = optionTable; row->name; row++) {
		if (!(line.given & uint64_t{1} << (row - optionTable)))
			continue;
		if (row->flag)
			files->*row->flag = line.*row->flag;
		else if (row->duration)
			files->*row->duration = line.*row->duration;
		else if (row->count)
			files->*row->count = line.*row->count;
		else if (row->path)
			files->*row->path = line.*row->path;
		else if (row->kind == optionPid)
			files->pid = line.pid;
		else if (row->kind == optionUser)
			files->checkUser = line.checkUser;
		else if (row->kind == optionResets) {
			files->maxResets = line.maxResets;
			files->maxResetsPeriodNs = line.maxResetsPeriodNs;
		}
	}
	if (files->probeCount + line.probeCount > maxProbes)
		return false;
	for (int i = 0; i < line.probeCount; i++)
		files->probes[files->probeCount++] = line.probes[i];
	if (line.check)
		files->check = line.check;
	files->given = line.given;
	return true;
}

// The bit of the row of optionTable that reads into a field, or of a kind.
static uint64_t bitOf(const OptionRow *row)
{
	return row->name ? uint64_t{1} << (row - optionTable) : 0;
}
static uint64_t rowBit(int64_t WatchOptions::*field)
{
	const OptionRow *row = optionTable;
	while (row->name && row->duration != field)
		row++;
	return bitOf(row);
}
static uint64_t rowBit(const bool WatchOptions::*field)
{
	const OptionRow *row = optionTable;
	while (row->name && row->flag != field)
		row++;
	return bitOf(row);
}
static uint64_t rowBit(OptionKind kind)
{
	const OptionRow *row = optionTable;
	while (row->name && row->kind != kind)
		row++;
	return bitOf(row);
}

const char *watchOptionsProblem(const WatchOptions &options, char *why, size_t size, ProblemParts *parts)
{
	const WatchOptions *o = &options;
	ProblemParts ignored = {0, false, -1};
	ProblemParts &from = parts ? *parts : ignored;
	from = ProblemParts{0, false, -1};
	if (o->pid && (o->check || o->probeCount)) {
		because(why, size, "%s and --pid exclude each other", o->check ? "a check" : "a probe");
		from = ProblemParts{rowBit(optionPid), o->check != nullptr, o->check ? -1 : 0};
		return why;
	}
	if (o->maxResets > 0 && (!o->enable || o->pid)) {
		because(why, size, "--max-resets goes with --enable and a check: only a watcher that owns monitoring can "
			"hold it off");
		from.rows = rowBit(optionResets) | (o->pid ? rowBit(optionPid) : rowBit(&WatchOptions::enable));
		return why;
	}
	if (!o->pid && !o->check && !o->probeCount) {
		because(why, size, "a probe or a check to run, or --pid, is needed");
		return why;
	}
	// Each part is one series of the figures, and one name in the lines.
	for (int a = 0; a < o->probeCount; a++) {
		char first[300];
		probeLabel(o->probes[a], first, sizeof first);
		for (int b = a + 1; b < o->probeCount; b++) {
			char second[300];
			probeLabel(o->probes[b], second, sizeof second);
			if (strcmp(first, second) == 0) {
				char shown[300];
				probeShownTarget(o->probes[a], shown, sizeof shown);
				because(why, size, "%s %s is given twice", probeOption(o->probes[a].kind), shown);
				from.probe = b;
				return why;
			}
		}
	}
	char interval[32];
	char timeout[32];
	char window[32];
	formatDuration(o->intervalNs, interval, sizeof interval);
	formatDuration(o->timeoutNs, timeout, sizeof timeout);
	formatDuration(o->windowNs, window, sizeof window);
	// A process watched takes no time to check: its timeout is not used.
	if (o->pid && o->intervalNs >= o->windowNs) {
		because(why, size, "the interval (%s) must be less than the window (%s), or the platform sees a gap "
			"between heartbeats while the process runs", interval, window);
		from.rows = rowBit(&WatchOptions::intervalNs) | rowBit(&WatchOptions::windowNs);
		return why;
	}
	if (!o->pid && o->intervalNs + o->timeoutNs >= o->windowNs) {
		because(why, size, "the interval (%s) and the timeout (%s) must add up to less than the window (%s), "
			"or the platform sees a gap between heartbeats of a healthy application",
			interval, timeout, window);
		from.rows = rowBit(&WatchOptions::intervalNs) | rowBit(&WatchOptions::timeoutNs)
			| rowBit(&WatchOptions::windowNs);
		return why;
	}
	for (int i = 0; i < o->probeCount; i++) {
		if (o->probes[i].timeoutNs > o->timeoutNs) {
			char shown[300];
			probeShownTarget(o->probes[i], shown, sizeof shown);
			char own[32];
			formatDuration(o->probes[i].timeoutNs, own, sizeof own);
			because(why, size, "%s %s: its timeout (%s) is longer than watch's (%s), which ends every round",
				probeOption(o->probes[i].kind), shown, own, timeout);
			from.rows = rowBit(&WatchOptions::timeoutNs);
			from.probe = i;
			return why;
		}
	}
	return nullptr;
}

namespace {

void usageLines(Text *t, const char *name)
{
	add(t, "Usage: %s [-s] watch [OPTION...] PROBE... [-- CHECK [ARG...]]\n"
		"       %s [-s] watch [OPTION...] [--] CHECK [ARG...]\n"
		"       %s [-s] watch [OPTION...] --pid PID\n", name, name, name);
}

}  // namespace

void watchUsageText(const char *invocationName, char *text, size_t size)
{
	Text t = textIn(text, size);
	usageLines(&t, invocationName);
	// The probes, by name: what a PROBE is at a glance.
	add(&t, "PROBE:");
	for (const OptionRow *row = optionTable; row->name; row++)
		if (row->kind == optionProbe)
			add(&t, " %s %s%s", row->name, row->value, row[1].kind == optionProbe ? "," : "\n");
	add(&t, "Every option: %s watch --help\n", invocationName);
}

void watchHelpText(const char *invocationName, char *text, size_t size)
{
	Text t = textIn(text, size);
	usageLines(&t, invocationName);
	add(&t, "Keeps the platform told whether the application is healthy: every interval it\n"
		"runs the probes and CHECK at once, and sends a heartbeat each time all pass\n"
		"(CHECK exits with 0).\n");
	for (const OptionRow *row = optionTable; row->name; row++) {
		char left[40];
		if (row->kind == optionSilent)
			snprintf(left, sizeof left, "-s, %s", row->name);
		else
			snprintf(left, sizeof left, "%s%s%s", row->name, row->value ? " " : "", row->value ? row->value : "");
		if (row->heading)
			add(&t, "\n%s%s", row->heading, *row->heading ? "\n" : "");
		const char *help = row->help;
		size_t first = strcspn(help, "\n");
		add(&t, "  %-21s %.*s\n", left, static_cast<int>(first), help);
		for (help += first; *help == '\n'; help += first) {
			help++;
			first = strcspn(help, "\n");
			add(&t, "  %-21s %.*s\n", "", static_cast<int>(first), help);
		}
	}
	add(&t, "\n"
		"D is a whole number with ms, s, min, h or d (500ms, 10s, 2min, 1h); a bare number\n"
		"is seconds.\n"
		"Exit status: 0 after an orderly stop; 2 or 4 from the platform; 100 a command\n"
		"line it cannot use; 105 a check or probe that cannot work; 106 the start timeout;\n"
		"107 the process watched has ended; 108 stopped, but monitoring could not be\n"
		"switched off; 109 another watcher runs; 110 a runtime directory it cannot use.\n"
		"SIGHUP: read the files again (without --config, say how things stand);\n"
		"SIGUSR1: say how things stand.\n");
}
