// watch's configuration files, read with toml++ (without exceptions): every
// value, and every fault, has its file, line and column.
#include "config_file.h"

#include "full_path.h"
#include "text.h"
#include "toml.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Each kind of probe as a file gives it: [[http]] url = "...".
const struct {
	ProbeKind kind;
	const char *table;
	const char *target;
} probeTables[] = {
	{probeHttp, "http", "url"},
	{probeTcp, "tcp", "address"},
	{probeProcess, "process", "name"},
	{probeService, "service", "name"},
	{probeFile, "file", "path"},
	{probeHttp, nullptr, nullptr},
};

struct Reader {
	const char *path;
	WatchConfig *config;
	char *why;
	size_t size;
	mutable toml::source_position faultAt;  // where the last fault was said
	const char *keptPath;                   // the path, kept with the configuration for its places
};

// Where a value was set, for a fault of the options as a whole to name.
void place(const Reader &r, ConfigPlace *at, const toml::source_region &where)
{
	*at = ConfigPlace{r.keptPath, where.begin.line, where.begin.column, ++r.config->placed};
}

bool at(const Reader &r, const toml::source_region &where, const char *format, ...) PRINTF_LIKE(3, 4);

// A fault, where it is: always false, for the caller to return.
bool at(const Reader &r, const toml::source_region &where, const char *format, ...)
{
	r.faultAt = where.begin;
	int n = snprintf(r.why, r.size, "%s:%u:%u: ", r.path, where.begin.line, where.begin.column);
	if (n < 0 || static_cast<size_t>(n) >= r.size)
		return false;
	va_list ap;
	va_start(ap, format);
	vsnprintf(r.why + n, r.size - static_cast<size_t>(n), format, ap);
	va_end(ap);
	return false;
}

// A string of the file's, kept for as long as the configuration is.
const char *keep(const Reader &r, std::string_view text, const toml::source_region &where)
{
	WatchConfig *c = r.config;
	if (memchr(text.data(), '\0', text.size()) || text.size() >= sizeof c->strings - c->used) {
		at(r, where, text.size() >= sizeof c->strings - c->used ? "the configuration is too large"
			: "a value holds a NUL character");
		return nullptr;
	}
	char *kept = c->strings + c->used;
	memcpy(kept, text.data(), text.size());
	kept[text.size()] = '\0';
	c->used += text.size() + 1;
	return kept;
}

// "need_reset_after" as the option "--need-reset-after".
void optionName(std::string_view key, char *name, size_t size)
{
	snprintf(name, size, "--%.*s", static_cast<int>(key.size()), key.data());
	for (char *p = name + 2; *p; p++)
		if (*p == '_')
			*p = '-';
		else if (*p == '-')
			*p = '_';  // "need-reset-after" is not a key: it names nothing
}

const OptionRow *rowOfKey(std::string_view key)
{
	char name[64];
	optionName(key, name, sizeof name);
	const OptionRow *row = optionTable;
	while (row->name && strcmp(row->name, name) != 0)
		row++;
	return row;
}

// A duration: "10s" as on the command line, or a bare number of seconds.
bool durationValue(const Reader &r, std::string_view key, const toml::node &value, int64_t *ns)
{
	char text[64];
	if (const auto *number = value.as_integer())
		snprintf(text, sizeof text, "%lld", static_cast<long long>(number->get()));
	else if (const auto *string = value.as_string())
		snprintf(text, sizeof text, "%.*s", static_cast<int>(string->get().size() < 60 ? string->get().size() : 60),
			string->get().data());
	else
		return at(r, value.source(), "%.*s: a duration is a string such as \"10s\"", static_cast<int>(key.size()),
			key.data());
	if (const char *problem = durationProblem(text, ns))
		return at(r, value.source(), "%.*s: \"%s\" %s", static_cast<int>(key.size()), key.data(), text, problem);
	return true;
}

bool countValue(const Reader &r, std::string_view key, const toml::node &value, int64_t limit, int64_t *count)
{
	const auto *number = value.as_integer();
	if (!number || number->get() < 1 || number->get() > limit)
		return at(r, value.source(), "%.*s: a whole number from 1 to %lld is needed", static_cast<int>(key.size()),
			key.data(), static_cast<long long>(limit));
	*count = number->get();
	return true;
}

bool pathValue(const Reader &r, std::string_view key, const toml::node &value, const char **path)
{
	const auto *string = value.as_string();
	if (!string || string->get().empty())
		return at(r, value.source(), "%.*s: a path is needed", static_cast<int>(key.size()), key.data());
	if (!(*path = keep(r, string->get(), value.source())))
		return false;
	// A service starts elsewhere than the operator stands.
	if (!fullPath(*path))
		return at(r, value.source(), "%.*s: \"%s\" is not a full path", static_cast<int>(key.size()), key.data(),
			*path);
	return true;
}

// One option's key at the top of a file.
bool readOption(const Reader &r, const toml::key &name, const toml::node &value)
{
	WatchOptions *o = &r.config->options;
	std::string_view key = name.str();
	const OptionRow *row = rowOfKey(key);
	if (!row->name || row->commandLineOnly || row->kind == optionHelp)
		return at(r, name.source(), "\"%.*s\" is not a key of watch's configuration", static_cast<int>(key.size()),
			key.data());
	int64_t number = 0;
	switch (row->kind) {
	case optionFlag:
	case optionSilent:
		if (!value.is_boolean())
			return at(r, value.source(), "%.*s: true or false is needed", static_cast<int>(key.size()), key.data());
		if (row->kind == optionSilent)
			r.config->silent = value.as_boolean()->get();
		else
			o->*row->flag = value.as_boolean()->get();
		return true;
	case optionDuration:
		return durationValue(r, key, value, &(o->*row->duration));
	case optionCount:
		if (!countValue(r, key, value, 1000000, &number))
			return false;
		o->*row->count = static_cast<int>(number);
		return true;
	case optionPid:
		if (!countValue(r, key, value, 0x7fffffff, &number))
			return false;
		o->pid = static_cast<long>(number);
		return true;
	case optionResets: {
		const auto *text = value.as_string();
		const char *problem = text ? resetsProblem(text->get().c_str(), &o->maxResets, &o->maxResetsPeriodNs)
			: "is not a string such as \"3/24h\", or \"0\"";
		if (problem)
			return at(r, value.source(), "%.*s %s", static_cast<int>(key.size()), key.data(), problem);
		return true;
	}
	case optionPath:
		return pathValue(r, key, value, &(o->*row->path));
	case optionUser: {
		const auto *string = value.as_string();
		if (!string)
			return at(r, value.source(), "%.*s: a user's name is needed", static_cast<int>(key.size()), key.data());
		if (!(o->checkUser = keep(r, string->get(), value.source())))
			return false;
		if (const char *problem = userNameProblem(o->checkUser))
			return at(r, value.source(), "%.*s: \"%s\" %s", static_cast<int>(key.size()), key.data(), o->checkUser,
				problem);
		return true;
	}
	case optionProbe:
		return at(r, value.source(), "%.*s: probes are tables: [[%.*s]]", static_cast<int>(key.size()), key.data(),
			static_cast<int>(key.size()), key.data());
	case optionHelp:
	case optionVersion:
		break;
	}
	return true;
}

// What only a file says of an HTTP probe; false, said, for a fault. A key
// it does not know is the caller's to refuse.
bool readHttpKey(const Reader &r, const toml::key &key, const toml::node &value, Probe *probe)
{
	std::string_view name = key.str();
	if (name == "method") {
		const auto *method = value.as_string();
		if (!method || (method->get() != "GET" && method->get() != "HEAD"))
			return at(r, value.source(), "method: \"GET\" or \"HEAD\" is needed");
		probe->head = method->get() == "HEAD";
	} else if (name == "expect_status") {
		const toml::array *codes = value.as_array();
		if (!codes || codes->empty() || codes->size() > maxExpected)
			return at(r, value.source(), "expect_status: a list of 1 to %d statuses is needed, such as [200, 204]",
				static_cast<int>(maxExpected));
		probe->expectedCount = 0;
		for (const toml::node &code : *codes) {
			const auto *number = code.as_integer();
			if (!number || number->get() < 100 || number->get() > 599)
				return at(r, code.source(), "expect_status: a status is a whole number from 100 to 599");
			probe->expected[probe->expectedCount++] = static_cast<int>(number->get());
		}
	} else if (name == "ca_file") {
		return pathValue(r, name, value, &probe->caFile);
	} else if (name == "headers_file") {
		return pathValue(r, name, value, &probe->headersFile);
	} else {
		return at(r, key.source(), "\"%.*s\" is not a key of [[http]]", static_cast<int>(name.size()), name.data());
	}
	return true;
}

// [[http]] url = "..." timeout = "2s", and the like.
bool readProbe(const Reader &r, ProbeKind kind, const char *targetKey, const toml::node &node)
{
	WatchOptions *o = &r.config->options;
	const toml::table *table = node.as_table();
	if (!table)
		return at(r, node.source(), "a probe is a table of its own: [[%s]]", probeOption(kind) + 2);
	if (o->probeCount == maxProbes)
		return at(r, node.source(), "at most %d probes", static_cast<int>(maxProbes));
	Probe probe = {kind, nullptr};
	for (const auto &[key, value] : *table) {
		std::string_view name = key.str();
		if (name == targetKey) {
			const auto *string = value.as_string();
			if (!string || string->get().empty())
				return at(r, value.source(), "%s: a string is needed", targetKey);
			if (!(probe.target = keep(r, string->get(), value.source())))
				return false;
			if (const char *problem = probeTargetProblem(probe))
				return at(r, value.source(), "%s: %s", targetKey, problem);
			// A service starts elsewhere than the operator stands.
			if (kind == probeFile && !fullPath(probe.target))
				return at(r, value.source(), "%s: \"%s\" is not a full path", targetKey, probe.target);
		} else if (name == "timeout") {
			if (!durationValue(r, name, value, &probe.timeoutNs))
				return false;
		} else if (name == "max_age" && kind == probeFile) {
			if (!durationValue(r, name, value, &probe.maxAgeNs))
				return false;
		} else if (kind == probeHttp) {
			if (!readHttpKey(r, key, value, &probe))
				return false;
		} else {
			return at(r, key.source(), "\"%.*s\" is not a key of [[%s]]", static_cast<int>(name.size()),
				name.data(), probeOption(kind) + 2);
		}
	}
	if (!probe.target)
		return at(r, node.source(), "[[%s]] needs %s", probeOption(kind) + 2, targetKey);
	o->probes[o->probeCount++] = probe;
	return true;
}

// [check] command = ["/usr/local/bin/check", "--deep"]
bool readCheck(const Reader &r, const toml::node &node)
{
	const toml::table *table = node.as_table();
	if (!table)
		return at(r, node.source(), "check is a table: [check] command = [\"PROGRAM\", \"ARG\"]");
	const toml::node *command = nullptr;
	for (const auto &[key, value] : *table) {
		if (key.str() != "command")
			return at(r, key.source(), "\"%.*s\" is not a key of [check]", static_cast<int>(key.str().size()),
				key.str().data());
		command = &value;
	}
	const toml::array *words = command ? command->as_array() : nullptr;
	if (!words)
		return at(r, command ? command->source() : node.source(),
			"[check] needs command, a list of the program and its arguments");
	if (words->size() > maxCheckWords)
		return at(r, command->source(), "command: at most %d words", static_cast<int>(maxCheckWords));
	WatchConfig *c = r.config;
	// command = []: no check, also none that a file read before named; a
	// drop-in that watches by probes alone needs no edit of the main file.
	if (words->empty()) {
		c->check[0] = nullptr;
		c->options.check = nullptr;
		return true;
	}
	size_t n = 0;
	for (const toml::node &word : *words) {
		const auto *string = word.as_string();
		if (!string || (n == 0 && string->get().empty()))
			return at(r, word.source(), "command: %s", n ? "each word is a string" : "the program is a non-empty string");
		const char *kept = keep(r, string->get(), word.source());
		if (!kept)
			return false;
		c->check[n++] = const_cast<char *>(kept);
	}
	c->check[n] = nullptr;
	c->options.check = c->check;
	return true;
}

}  // namespace

void startConfig(WatchConfig *config)
{
	setWatchDefaults(&config->options);
	config->silent = false;
	config->check[0] = nullptr;
	memset(config->optionPlaces, 0, sizeof config->optionPlaces);
	config->checkPlace = {};
	memset(config->probePlaces, 0, sizeof config->probePlaces);
	config->placed = 0;
	config->used = 0;
}

bool placeOf(const WatchConfig &config, const ProblemParts &parts, const WatchOptions &line, char *text, size_t size)
{
	const ConfigPlace *last = nullptr;
	auto consider = [&last](const ConfigPlace &p) {
		if (p.path && (!last || p.order > last->order))
			last = &p;
	};
	for (int i = 0; i < 64; i++)
		if ((parts.rows >> i & 1) && !(line.given >> i & 1))
			consider(config.optionPlaces[i]);
	if (parts.check && !line.check)
		consider(config.checkPlace);
	if (parts.probe >= 0 && parts.probe < maxProbes)
		consider(config.probePlaces[parts.probe]);
	if (!last)
		return false;
	snprintf(text, size, "%s:%u:%u", last->path, last->line, last->column);
	return true;
}

namespace {

// The faults of one file, each at its place, told in the order of the lines.
struct Faults {
	enum : int { most = 16 };
	struct {
		toml::source_position at;
		char text[400];
	} each[most];
	int count;
};

void keepFault(Faults *f, const Reader &r)
{
	if (f->count == Faults::most)
		return;
	f->each[f->count].at = r.faultAt;
	snprintf(f->each[f->count].text, sizeof f->each[0].text, "%s", r.why);
	f->count++;
}

// The first in full; the others, a line each, as long as they fit whole.
void tellFaults(Faults *f, char *why, size_t size)
{
	std::stable_sort(f->each, f->each + f->count, [](const auto &a, const auto &b) {
		return a.at.line != b.at.line ? a.at.line < b.at.line : a.at.column < b.at.column;
	});
	snprintf(why, size, "%s", f->each[0].text);
	size_t used = strlen(why);
	for (int i = 1; i < f->count; i++) {
		size_t n = strlen(f->each[i].text);
		if (used + 1 + n >= size)
			break;
		why[used++] = '\n';
		memcpy(why + used, f->each[i].text, n + 1);
		used += n;
	}
}

}  // namespace

bool readConfigText(const char *path, const char *text, size_t length, WatchConfig *config, char *why, size_t size)
{
	if (size)
		why[0] = '\0';
	toml::parse_result parsed = toml::parse(std::string_view(text, length), std::string_view(path));
	if (!parsed) {
		Reader r = {path, config, why, size, {}, nullptr};
		const toml::parse_error &error = parsed.error();
		char description[300];
		snprintf(description, sizeof description, "%.*s", static_cast<int>(error.description().size()),
			error.description().data());
		// "Error while parsing...", as a line goes on after a colon.
		if (description[0] >= 'A' && description[0] <= 'Z' && !(description[1] >= 'A' && description[1] <= 'Z'))
			description[0] = static_cast<char>(description[0] - 'A' + 'a');
		return at(r, error.source(), "%s", description);
	}
	// Every fault is told, not only the first a table's order meets: each
	// key is read whatever the others came to (the file is not used
	// unless all read).
	char said[400];
	Reader r = {path, config, said, sizeof said, {}, nullptr};
	r.keptPath = keep(r, path, {});
	static Faults faults;
	faults.count = 0;
	// The probes in the order the file gives them, whatever their kinds:
	// the order of the lines and of the figures.
	struct Placed {
		const toml::node *node;
		size_t kind;
	} probes[maxProbes];
	size_t count = 0;
	for (const auto &[key, value] : parsed.table()) {
		std::string_view name = key.str();
		if (name == "check") {
			if (!readCheck(r, value))
				keepFault(&faults, r);
			else
				place(r, &config->checkPlace, key.source());
			continue;
		}
		size_t kind = 0;
		while (probeTables[kind].table && name != probeTables[kind].table)
			kind++;
		if (!probeTables[kind].table) {
			if (!readOption(r, key, value))
				keepFault(&faults, r);
			else
				place(r, &config->optionPlaces[rowOfKey(name) - optionTable], key.source());
			continue;
		}
		const toml::array *array = value.as_array();
		if (!array) {
			at(r, value.source(), "%s: probes are tables: [[%s]]", probeTables[kind].table, probeTables[kind].table);
			keepFault(&faults, r);
			continue;
		}
		for (const toml::node &probe : *array) {
			if (count == maxProbes) {
				at(r, probe.source(), "at most %d probes", static_cast<int>(maxProbes));
				keepFault(&faults, r);
				break;
			}
			probes[count++] = Placed{&probe, kind};
		}
	}
	std::sort(probes, probes + count, [](const Placed &a, const Placed &b) {
		const toml::source_position &x = a.node->source().begin;
		const toml::source_position &y = b.node->source().begin;
		return x.line != y.line ? x.line < y.line : x.column < y.column;
	});
	for (size_t i = 0; i < count; i++) {
		const auto &table = probeTables[probes[i].kind];
		if (!readProbe(r, table.kind, table.target, *probes[i].node))
			keepFault(&faults, r);
		else
			place(r, &config->probePlaces[config->options.probeCount - 1], probes[i].node->source());
	}
	if (faults.count == 0)
		return true;
	tellFaults(&faults, why, size);
	return false;
}

namespace {

// "10 s" as a file writes it: "10s".
void addDuration(Text *t, int64_t ns)
{
	char said[32];
	formatDuration(ns, said, sizeof said);
	char *space = strchr(said, ' ');
	if (space)
		memmove(space, space + 1, strlen(space));
	add(t, "\"%s\"", said);
}

void keyOf(const char *option, char *key, size_t size)
{
	snprintf(key, size, "%s", option + 2);
	for (char *p = key; *p; p++)
		if (*p == '-')
			*p = '_';
}

// The word with each URL's secrets hidden, again and again until nothing
// more is, so that the printout, read back, prints the same.
char *hideWordSecrets(const char *word)
{
	char *shown = wordShownWithoutSecrets(word);
	while (shown) {
		char *more = wordShownWithoutSecrets(shown);
		if (!more)
			break;
		bool same = strcmp(more, shown) == 0;
		free(shown);
		shown = more;
		if (same)
			break;
	}
	return shown;
}

}  // namespace

bool printConfig(const WatchOptions &o, bool silent, char *text, size_t size, char *why, size_t whySize)
{
	Text t = textIn(text, size);
	const char *unwritable = nullptr;
	// Each probe's target as printed: its secrets are read by whoever
	// reads the printout, configuration management's logs among them.
	static char targets[maxProbes][8192];
	bool hidden = false;
	bool cut = false;
	for (int i = 0; i < o.probeCount; i++) {
		cut = !probeShownTarget(o.probes[i], targets[i], sizeof targets[i], shownInPrint) || cut;
		// Also a printout read back: it says so again, and prints the same.
		hidden = hidden || strstr(targets[i], "<secret>");
	}
	for (char **w = o.check; w && *w; w++) {
		char *shown = hideWordSecrets(*w);
		hidden = hidden || strstr(shown ? shown : *w, "<secret>");
		free(shown);
	}
	if (hidden)
		add(&t, "# A URL's password and the values of its query parameters named as secrets (token, key...) are\n"
			"# shown as <secret>: read back, this file would send \"<secret>\" in their place.\n");
	for (const OptionRow *row = optionTable; row->name; row++) {
		if (row->commandLineOnly || row->kind == optionProbe || row->kind == optionHelp)
			continue;
		char key[64];
		keyOf(row->name, key, sizeof key);
		if (row->kind == optionSilent) {
			add(&t, "%s = %s\n", key, silent ? "true" : "false");
		} else if (row->flag) {
			add(&t, "%s = %s\n", key, o.*row->flag ? "true" : "false");
		} else if (row->duration && o.*row->duration) {
			add(&t, "%s = ", key);
			addDuration(&t, o.*row->duration);
			add(&t, "\n");
		} else if (row->count && o.*row->count) {
			add(&t, "%s = %d\n", key, o.*row->count);
		} else if (row->path && o.*row->path) {
			add(&t, "%s = ", key);
			if (!addQuoted(&t, o.*row->path))
				unwritable = o.*row->path;
			add(&t, "\n");
		} else if (row->kind == optionPid && o.pid) {
			add(&t, "%s = %ld\n", key, o.pid);
		} else if (row->kind == optionUser && o.checkUser) {
			add(&t, "%s = \"%s\"\n", key, o.checkUser);
		} else if (row->kind == optionResets && o.maxResets == 0) {
			add(&t, "%s = \"0\"\n", key);
		} else if (row->kind == optionResets && o.maxResets > 0) {
			add(&t, "%s = \"%d/", key, o.maxResets);
			char period[32];
			formatDuration(o.maxResetsPeriodNs, period, sizeof period);
			char *space = strchr(period, ' ');
			if (space)
				memmove(space, space + 1, strlen(space));
			add(&t, "%s\"\n", period);
		}
	}
	if (o.check) {
		add(&t, "\n[check]\ncommand = [");
		for (char **w = o.check; *w; w++) {
			add(&t, "%s", w == o.check ? "" : ", ");
			char *shown = hideWordSecrets(*w);
			if (!addQuoted(&t, shown ? shown : *w))
				unwritable = *w;
			free(shown);
		}
		add(&t, "]\n");
	}
	for (int i = 0; i < o.probeCount; i++) {
		const Probe &p = o.probes[i];
		size_t kind = 0;
		while (probeTables[kind].table && probeTables[kind].kind != p.kind)
			kind++;
		add(&t, "\n[[%s]]\n%s = ", probeTables[kind].table, probeTables[kind].target);
		if (!addQuoted(&t, targets[i]))
			unwritable = targets[i];
		add(&t, "\n");
		if (p.timeoutNs) {
			add(&t, "timeout = ");
			addDuration(&t, p.timeoutNs);
			add(&t, "\n");
		}
		if (p.maxAgeNs) {
			add(&t, "max_age = ");
			addDuration(&t, p.maxAgeNs);
			add(&t, "\n");
		}
		if (p.head)
			add(&t, "method = \"HEAD\"\n");
		for (int k = 0; k < p.expectedCount; k++)
			add(&t, "%s%d%s", k == 0 ? "expect_status = [" : ", ", p.expected[k], k + 1 == p.expectedCount ? "]\n" : "");
		const struct {
			const char *key;
			const char *path;
		} paths[] = {{"ca_file", p.caFile}, {"headers_file", p.headersFile}};
		for (const auto &path : paths) {
			if (!path.path)
				continue;
			add(&t, "%s = ", path.key);
			if (!addQuoted(&t, path.path))
				unwritable = path.path;
			add(&t, "\n");
		}
	}
	if (unwritable) {
		// Said as one line of UTF-8 itself: '?' for each byte that is not.
		char shown[600];
		snprintf(shown, sizeof shown, "%.599s", unwritable);
		makePrintable(shown);
		snprintf(why, whySize, "cannot print the configuration: \"%s\" is not UTF-8, which a TOML file cannot hold; "
			"it is usable as it is", shown);
		return false;
	}
	if (!t.fits || cut) {
		snprintf(why, whySize, "the configuration is too large to print");
		return false;
	}
	return true;
}
