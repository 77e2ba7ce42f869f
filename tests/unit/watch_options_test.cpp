#include "core/config_file.h"
#include "core/watch_options.h"
#include "support/completion.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST(DurationProblem, WholeNumbersWithTheirUnitUpToThirtyDaysAndWhyNot)
{
	struct {
		const char *text;
		int64_t ns;          // when accepted
		const char *problem; // when not
	} cases[] = {
		{"10", 10 * nsPerS, nullptr}, {"10s", 10 * nsPerS, nullptr}, {"500ms", 500 * nsPerMs, nullptr},
		{"2m", 120 * nsPerS, nullptr}, {"2min", 120 * nsPerS, nullptr},
		// As the tool prints them.
		{"2 min", 120 * nsPerS, nullptr}, {"10 s", 10 * nsPerS, nullptr}, {"500 ms", 500 * nsPerMs, nullptr},
		{"43200m", maxDurationNs, nullptr}, {"2592000", maxDurationNs, nullptr},
		{"1h", 3600 * nsPerS, nullptr}, {"720h", maxDurationNs, nullptr}, {"30d", maxDurationNs, nullptr},
		{"90min", 90 * 60 * nsPerS, nullptr}, {"1500ms", 1500 * nsPerMs, nullptr}, {"1 d", 86400 * nsPerS, nullptr},
		{"31d", 0, "is more than 30 days"},
		{"2592000000ms", maxDurationNs, nullptr},
		{"43201m", 0, "is more than 30 days"}, {"2592001", 0, "is more than 30 days"},
		{"99999999999999999999m", 0, "is more than 30 days"},
		{"0", 0, "must be more than 0"}, {"0ms", 0, "must be more than 0"},
		{"007", 0, "has a leading zero (a whole number with ms, s, min, h or d)"},
		{"1.5s", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
		{"-1", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
		{"+1", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
		{" 1", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
		{"1  s", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
		{"1 ", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
		{"1w", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
		{"1S", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
		{"s", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
		{"", 0, "is not a duration (a whole number with ms, s, min, h or d)"},
	};
	for (const auto &c : cases) {
		int64_t ns = 0;
		const char *problem = durationProblem(c.text, &ns);
		EXPECT_EQ(std::string(problem ? problem : "accepted"), std::string(c.problem ? c.problem : "accepted"))
			<< c.text;
		if (!c.problem) {
			EXPECT_EQ(ns, c.ns) << c.text;
			// As a line says it, it reads back the same.
			char said[32];
			formatDuration(ns, said, sizeof said);
			int64_t again = 0;
			EXPECT_EQ(durationProblem(said, &again), nullptr) << said;
			EXPECT_EQ(again, ns) << said;
		}
	}
}

TEST(ProbeTarget, WhatCanNeverBeProbedIsToldFromItsTextAlone)
{
	const char *notHostPort = "not HOST:PORT (a name or an address, a port from 1 to 65535; [ADDRESS]:PORT for IPv6)";
	struct {
		ProbeKind kind;
		const char *target;
		const char *problem;  // null: usable
		const char *host;     // --tcp, usable: as split
		const char *shown = nullptr;  // as lines and labels show it, when not as given
		const char *printed = nullptr;  // as --print shows it, when not as lines do
	} rows[] = {
		{probeTcp, "db:5432", nullptr, "db"},
		{probeTcp, "[::1]:65535", nullptr, "::1"},
		{probeTcp, "10.0.0.1:1", nullptr, "10.0.0.1"},
		{probeTcp, "::1:80", notHostPort, nullptr},
		{probeTcp, "[::1]80", notHostPort, nullptr},
		{probeTcp, ":80", notHostPort, nullptr},
		{probeTcp, "db:", notHostPort, nullptr},
		{probeTcp, "db:0", notHostPort, nullptr},
		{probeTcp, "db:080", notHostPort, nullptr},
		{probeTcp, "db:65536", notHostPort, nullptr},
		{probeTcp, "db:5432x", notHostPort, nullptr},
		{probeHttp, "HTTP://host", nullptr, nullptr},
		{probeHttp, "https://[::1]:8443/health?full=1", nullptr, nullptr},
		// A password is never shown; a user, or an @ past the host, is.
		{probeHttp, "http://admin:s3cret@db/health", nullptr, nullptr, "http://admin@db/health",
			"http://admin:<secret>@db/health"},
		{probeHttp, "https://u:p:q@[::1]:8443/x@y", nullptr, nullptr, "https://u@[::1]:8443/x@y",
			"https://u:<secret>@[::1]:8443/x@y"},
		{probeHttp, "http://admin@db/health", nullptr, nullptr},
		{probeHttp, "http://admin:@db/health", nullptr, nullptr, "http://admin@db/health", "http://admin:@db/health"},
		{probeHttp, "http://db/login?next=a:b@c", nullptr, nullptr},
		// Nor a value whose parameter's name says secret, whatever its case
		// or its escapes, in the query or the fragment; other names are
		// shown, and so is a name alone or an empty value.
		{probeHttp, "http://db/h?token=t1&full=1&Access_Token=t2;API_KEY=k#x&signature=s", nullptr, nullptr,
			"http://db/h?token=<secret>&full=1&Access_Token=<secret>;API_KEY=<secret>#x&signature=<secret>"},
		{probeHttp, "http://db?%74oken=t&key=k&sig=&auth", nullptr, nullptr, "http://db?%74oken=<secret>&key=<secret>&sig=&auth"},
		{probeHttp, "http://db/h?tokens=1&monkey=2&keyword=3&x=token", nullptr, nullptr},
		// Read without "-", "_" or ".", and by their endings too.
		{probeHttp, "http://db/h?x-api-key=1&Access-Token=2&X-Auth-Token=3&private_token=4&secret_key=5&sort.key=6",
			nullptr, nullptr, "http://db/h?x-api-key=<secret>&Access-Token=<secret>&X-Auth-Token=<secret>"
			"&private_token=<secret>&secret_key=<secret>&sort.key=6"},
		{probeHttp, "http://db/h?subscription-key=1&x-functions-key=2&PHPSESSID=3&code=4&keycode=5",
			nullptr, nullptr, "http://db/h?subscription-key=<secret>&x-functions-key=<secret>&PHPSESSID=<secret>"
			"&code=<secret>&keycode=5"},
		// However long the name: its ending says secret.
		{probeHttp, "http://db/h?googleCloudPlatformServiceAccountOAuthRefreshToken=t", nullptr, nullptr,
			"http://db/h?googleCloudPlatformServiceAccountOAuthRefreshToken=<secret>"},
		{probeHttp, "https://s3/b/o?X-Amz-Credential=c&X-Amz-Signature=s&client_secret=cs&refresh_token=r", nullptr,
			nullptr, "https://s3/b/o?X-Amz-Credential=<secret>&X-Amz-Signature=<secret>&client_secret=<secret>"
			"&refresh_token=<secret>"},
		{probeHttp, "http://a:pw@db/h?password=p&secret=s&auth=a", nullptr, nullptr,
			"http://a@db/h?password=<secret>&secret=<secret>&auth=<secret>",
			"http://a:<secret>@db/h?password=<secret>&secret=<secret>&auth=<secret>"},
		{probeTcp, "token:5432", nullptr, "token"},
		{probeHttp, "ftp://host/", "the scheme must be http or https", nullptr},
		{probeHttp, "host/health", "not a URL (http://HOST[:PORT][/PATH] or https://...)", nullptr},
		{probeHttp, "http:/host", "not a URL (http://HOST[:PORT][/PATH] or https://...)", nullptr},
		{probeHttp, "https:///health", "a URL names a host", nullptr},
		{probeHttp, "http://host/a b", "a URL has no spaces or control characters (%20 for a space)", nullptr},
		{probeProcess, "bin/myapp", "a process is named without its directory", nullptr},
		{probeFile, "", "an empty name", nullptr},
	};
	for (const auto &row : rows) {
		const char *problem = probeTargetProblem(Probe{row.kind, row.target});
		EXPECT_STREQ(problem ? problem : "usable", row.problem ? row.problem : "usable") << row.target;
		char shown[300];
		probeShownTarget(Probe{row.kind, row.target}, shown, sizeof shown);
		EXPECT_STREQ(shown, row.shown ? row.shown : row.target);
		probeShownTarget(Probe{row.kind, row.target}, shown, sizeof shown, shownInPrint);
		EXPECT_STREQ(shown, row.printed ? row.printed : row.shown ? row.shown : row.target);
		char host[256] = "";
		char port[8] = "";
		if (row.host) {
			EXPECT_TRUE(splitHostPort(row.target, host, sizeof host, port, sizeof port)) << row.target;
			EXPECT_STREQ(host, row.host) << row.target;
		}
	}
}

TEST(ProbeTarget, WhatAProbesLibrarySaysNeverQuotesItsTargetsSecrets)
{
	Probe http = {probeHttp, "http://admin:pw@db/h?token=pwtok&key=k3y"};
	struct {
		Probe probe;
		const char *said;
		const char *shown;
	} rows[] = {
		{http, "Could not resolve host: db", "Could not resolve host: db"},
		// The longest secret where two start alike; none looked for in a mark.
		{http, "URL rejected: http://admin:pw@db/h?token=pwtok&key=k3y",
			"URL rejected: http://admin:<secret>@db/h?token=<secret>&key=<secret>"},
		{Probe{probeFile, "/run/pw"}, "/run/pw: no such file", "/run/pw: no such file"},
	};
	for (const auto &row : rows) {
		char said[256];
		snprintf(said, sizeof said, "%s", row.said);
		hideTargetSecrets(row.probe, said, sizeof said);
		EXPECT_STREQ(said, row.shown);
	}
}

TEST(ProbeTarget, AServiceIsNamedAsSystemdNamesUnits)
{
	const struct {
		const char *name;
		bool taken;
	} rows[] = {
		{"nginx", true}, {"nginx.service", true}, {"getty@tty1.service", true}, {"dev-sda1.device", true},
		{"a:b_c-d\\x2d.socket", true},
		{"my app", false}, {"nginx.services", false}, {"getty@.service", false}, {"@x.service", false},
		{"a@b@c.service", false}, {".service", false}, {"caf\xc3\xa9", false},
		{"", false},
	};
	for (const auto &row : rows)
		EXPECT_EQ(systemdUnitProblem(row.name) == nullptr, row.taken) << row.name;
	EXPECT_EQ(systemdUnitProblem(std::string(247, 'x').c_str()), nullptr);
	EXPECT_NE(systemdUnitProblem(std::string(248, 'x').c_str()), nullptr);
}

// Files' texts ('\f' between them: the file, then its drop-ins) read onto
// the defaults, then printed: the lines that differ from the defaults'
// print, '|' between them; or the faults, a line each.
std::string readThenPrint(const char *texts)
{
	static WatchConfig config;
	startConfig(&config);
	char why[600];
	int file = 0;
	for (const char *text = texts;; file++) {
		size_t length = strcspn(text, "\f");
		std::string path = file ? "/etc/w.d/" + std::to_string(file) + ".toml" : "/etc/w.toml";
		if (!readConfigText(path.c_str(), text, length, &config, why, sizeof why))
			return why;
		if (!text[length])
			break;
		text += length + 1;
	}
	static char printed[1 << 16];
	static char defaults[1 << 16];
	if (!printConfig(config.options, config.silent, printed, sizeof printed, why, sizeof why))
		return why;
	WatchOptions plain;
	setWatchDefaults(&plain);
	printConfig(plain, false, defaults, sizeof defaults, why, sizeof why);
	std::string differ;
	for (const char *line = printed; *line;) {
		size_t length = strcspn(line, "\n");
		std::string one(line, length);
		if (!one.empty() && std::string(defaults).find(one + "\n") == std::string::npos)
			differ += (differ.empty() ? "" : "|") + one;
		line += length + (line[length] != 0);
	}
	return differ;
}

TEST(ConfigFile, KeysAreTheOptionsAndEveryFaultHasItsPlace)
{
	struct {
		const char *text;
		const char *came;
	} cases[] = {
		{"interval = \"2s\"\nfall = 3\nneed_reset_after = 5\nenable = true\nsilent = true",
			"interval = \"2s\"|enable = true|fall = 3|need_reset_after = 5|silent = true"},
		// A bare number of seconds, as on the command line.
		{"timeout = 3", "timeout = \"3s\""},
		{"[check]\ncommand = [\"/usr/local/bin/check\", \"--deep\", \"a \\\"b\\\"\"]",
			"[check]|command = [\"/usr/local/bin/check\", \"--deep\", \"a \\\"b\\\"\"]"},
		// Probes in the file's order, whatever their kinds; their own settings.
		{"[[tcp]]\naddress = \"db:5432\"\n[[http]]\nurl = \"http://h/\"\ntimeout = \"1s\"\n"
			"[[tcp]]\naddress = \"mq:5672\"\n[[file]]\npath = \"/run/a\"\nmax_age = \"1min\"",
			"[[tcp]]|address = \"db:5432\"|[[http]]|url = \"http://h/\"|timeout = \"1s\"|[[tcp]]|address = \"mq:5672\"|"
			"[[file]]|path = \"/run/a\"|max_age = \"1min\""},
		// An unknown key is a fault, never ignored; at the key.
		{"fall = 2\n  falll = 3", "/etc/w.toml:2:3: \"falll\" is not a key of watch's configuration"},
		{"need-reset-after = 3", "/etc/w.toml:1:1: \"need-reset-after\" is not a key of watch's configuration"},
		{"config = \"/etc/x.toml\"", "/etc/w.toml:1:1: \"config\" is not a key of watch's configuration"},
		{"[[http]]\nurl = \"http://h/\"\nmethod = \"HEAD\"\nexpect_status = [200, 204]\nheaders_file = \"/etc/h\"",
			"[[http]]|url = \"http://h/\"|method = \"HEAD\"|expect_status = [200, 204]|headers_file = \"/etc/h\""},
		// Its secrets are not printed, and the printout says so first.
		{"[[http]]\nurl = \"http://a:pw@h/?Token=t\"",
			"# A URL's password and the values of its query parameters named as secrets (token, key...) are|"
			"# shown as <secret>: read back, this file would send \"<secret>\" in their place.|"
			"[[http]]|url = \"http://a:<secret>@h/?Token=<secret>\""},
		// So are those of a check's word, also after a URL in the query.
		{"[check]\ncommand = [\"/c\", \"https://h/cb?next=http://a/b&api_key=k\", \"https://h/?next=https://u:p@a/?token=t\"]",
			"# A URL's password and the values of its query parameters named as secrets (token, key...) are|"
			"# shown as <secret>: read back, this file would send \"<secret>\" in their place.|"
			"[check]|command = [\"/c\", \"https://h/cb?next=http://a/b&api_key=<secret>\", "
			"\"https://h/?next=https://u:<secret>@a/?token=<secret>\"]"},
		// Nothing but a blank, or the quote that opened it, ends a word's URL.
		{"[check]\ncommand = [\"/c\", \"http://h/?q=a|b&token=s\", \"http://u:p<w@h/?q=<b>&token=ab<cd\", "
			"\"curl 'http://u:p@h/' \\\"http://h/?key=k\\\"\"]",
			"# A URL's password and the values of its query parameters named as secrets (token, key...) are|"
			"# shown as <secret>: read back, this file would send \"<secret>\" in their place.|"
			"[check]|command = [\"/c\", \"http://h/?q=a|b&token=<secret>\", \"http://u:<secret>@h/?q=<b>&token=<secret>\", "
			"\"curl 'http://u:<secret>@h/' \\\"http://h/?key=<secret>\\\"\"]"},
		{"[[http]]\nurl = \"http://h/\"\nmethod = \"POST\"", "/etc/w.toml:3:10: method: \"GET\" or \"HEAD\" is needed"},
		{"[[http]]\nurl = \"http://h/\"\nexpect_status = [200, 99]",
			"/etc/w.toml:3:23: expect_status: a status is a whole number from 100 to 599"},
		{"[[http]]\nurl = \"http://h/\"\nheader = \"X: y\"", "/etc/w.toml:3:1: \"header\" is not a key of [[http]]"},
		{"[[tcp]]\naddress = \"db:1\"\nmethod = \"HEAD\"", "/etc/w.toml:3:1: \"method\" is not a key of [[tcp]]"},
		{"[check]\nprogram = \"/bin/true\"", "/etc/w.toml:2:1: \"program\" is not a key of [check]"},
		// A value of the wrong kind, at the value.
		{"fall = \"3\"", "/etc/w.toml:1:8: fall: a whole number from 1 to 1000000 is needed"},
		{"fall = 0", "/etc/w.toml:1:8: fall: a whole number from 1 to 1000000 is needed"},
		{"enable = \"yes\"", "/etc/w.toml:1:10: enable: true or false is needed"},
		{"metrics_file = \"m.prom\"", "/etc/w.toml:1:16: metrics_file: \"m.prom\" is not a full path"},
		{"[[file]]\npath = \"run/alive\"", "/etc/w.toml:2:8: path: \"run/alive\" is not a full path"},
		// Every fault of a file, in the order of its lines, not of its keys' names.
		{"rise = 0\n[[tcp]]\naddress = 1\n[check]\ncommand = \"/bin/true\"",
			"/etc/w.toml:1:8: rise: a whole number from 1 to 1000000 is needed\n"
			"/etc/w.toml:3:11: address: a string is needed\n"
			"/etc/w.toml:5:11: [check] needs command, a list of the program and its arguments"},
		{"http = \"http://h/\"", "/etc/w.toml:1:8: http: probes are tables: [[http]]"},
		{"[[tcp]]\ntimeout = \"1s\"", "/etc/w.toml:1:1: [[tcp]] needs address"},
		{"[check]\n", "/etc/w.toml:1:1: [check] needs command, a list of the program and its arguments"},
		{"[check]\ncommand = [\"\"]", "/etc/w.toml:2:12: command: the program is a non-empty string"},
		// The parser's own faults, with their place.
		{"interval = [1,\n", "/etc/w.toml:1:16: error while parsing array: encountered end-of-file"},
		{"fall = 2\nfall = 3", "/etc/w.toml:2:8: error while parsing key-value pair: cannot redefine existing integer 'fall'"},
		// A number too large for a count, or not whole, is never cut to one.
		{"fall = 99999999999", "/etc/w.toml:1:8: fall: a whole number from 1 to 1000000 is needed"},
		{"fall = 2.5", "/etc/w.toml:1:8: fall: a whole number from 1 to 1000000 is needed"},
		// A drop-in's value replaces the file's, its probes add to the file's,
		// its check replaces the file's; a fault names the drop-in.
		{"fall = 2\nrise = 4\f fall = 3", "fall = 3|rise = 4"},
		{"[[tcp]]\naddress = \"db:1\"\f[[tcp]]\naddress = \"mq:2\"", "[[tcp]]|address = \"db:1\"|[[tcp]]|address = \"mq:2\""},
		{"[check]\ncommand = [\"/a\"]\f[check]\ncommand = [\"/b\", \"x\"]", "[check]|command = [\"/b\", \"x\"]"},
		// ...and its empty check clears the file's: probes alone, no edit of the file.
		{"[check]\ncommand = [\"/a\"]\f[[tcp]]\naddress = \"db:1\"\n[check]\ncommand = []", "[[tcp]]|address = \"db:1\""},
		{"fall = 2\f\f  fal = 3", "/etc/w.d/2.toml:1:3: \"fal\" is not a key of watch's configuration"},
		// The brake on reset loops: N/D, or "0" for none, as a string.
		{"max_resets = \"5/12h\"\nstate_dir = \"/srv/pw\"", "state_dir = \"/srv/pw\"|max_resets = \"5/12h\""},
		{"max_resets = \"0\"", "max_resets = \"0\""},
		{"max_resets = 3", "/etc/w.toml:1:14: max_resets is not a string such as \"3/24h\", or \"0\""},
		{"max_resets = \"101/1h\"", "/etc/w.toml:1:14: max_resets is not N/D with N a whole number from 1 to 100"},
		{"max_resets = \"3/\"", "/etc/w.toml:1:14: max_resets is not N/D with D a duration (such as 24h)"},
		// Whom the check runs as: a name useradd would take, nothing a shell could read more into.
		{"check_user = \"pulsewarden-check\"", "check_user = \"pulsewarden-check\""},
		{"check_user = \"-root\"", "/etc/w.toml:1:14: check_user: \"-root\" is not a user's name (letters, digits, '.', '_' and '-')"},
		{"check_user = \"a;b\"", "/etc/w.toml:1:14: check_user: \"a;b\" is not a user's name (letters, digits, '.', '_' and '-')"},
		{"check_user = \"\"", "/etc/w.toml:1:14: check_user: \"\" is not a user's name (1 to 32 characters)"},
	};
	for (const auto &c : cases)
		EXPECT_EQ(readThenPrint(c.text), c.came) << c.text;
}

// Every row of the option table has an entry of its own in
// pulsewarden-watch(1): a tag line under .TP naming it as the page writes
// it ("\-\-max\-age"), whole: a space before it, and a space, a quote or
// the line's end after it.
TEST(OptionTable, EveryRowHasAnEntryInTheWatchManPage)
{
	FILE *page = fopen(WATCH_MAN_PAGE, "r");
	ASSERT_NE(page, nullptr) << WATCH_MAN_PAGE;
	std::string tags;
	char line[4096];
	bool tagNext = false;
	while (fgets(line, sizeof line, page)) {
		if (tagNext)
			tags += line;
		tagNext = strncmp(line, ".TP", 3) == 0 && (line[3] == '\n' || line[3] == ' ');
	}
	fclose(page);
	int rows = 0;
	for (const OptionRow *row = optionTable; row->name; row++, rows++) {
		std::string written;
		for (const char *p = row->name; *p; p++)
			written += *p == '-' ? std::string("\\-") : std::string(1, *p);
		bool found = false;
		for (size_t at = tags.find(written); at != std::string::npos && !found; at = tags.find(written, at + 1)) {
			char after = tags[at + written.size()];
			found = at > 0 && tags[at - 1] == ' ' && (after == ' ' || after == '"' || after == '\n');
		}
		EXPECT_TRUE(found) << row->name << " has no entry (.TP, then a line naming it) in " << WATCH_MAN_PAGE;
	}
	EXPECT_GT(rows, 20);
}

// Each row's option, its value's name and the first line of what it does,
// on a line of the help; and the help whole, with a long invocation name,
// in the buffer watch prints it from.
TEST(OptionTable, EveryRowIsInTheHelpWithWhatItDoesAndTheHelpFitsWhole)
{
	const std::string name(256, 'p');
	static char buffer[watchHelpSize];
	watchHelpText(name.c_str(), buffer, sizeof buffer);
	const std::string help = buffer;
	const std::string last = "SIGUSR1: say how things stand.\n";
	ASSERT_GE(help.size(), last.size());
	EXPECT_EQ(help.substr(help.size() - last.size()), last) << "the help is cut short";
	for (const OptionRow *row = optionTable; row->name; row++) {
		SCOPED_TRACE(row->name);
		ASSERT_TRUE(row->help && *row->help && *row->help != '\n');
		std::string left = std::string(row->kind == optionSilent ? "-s, " : "") + row->name
			+ (row->value ? std::string(" ") + row->value : "");
		std::string first(row->help, strcspn(row->help, "\n"));
		bool found = false;
		for (size_t at = 0, end = 0; !found && end != std::string::npos; at = end + 1) {
			end = help.find('\n', at);
			std::string line = help.substr(at, end == std::string::npos ? end : end - at);
			found = line.rfind("  " + left + " ", 0) == 0 && line.size() > first.size()
				&& line.substr(line.size() - first.size() - 1) == " " + first;
		}
		EXPECT_TRUE(found) << "no line \"  " << left << " ... " << first << "\"";
	}
}

// The completion offers every option of the table and no other, skips a
// value where the parser reads one, and offers files where the value is a
// path and users where it is a user.
TEST(OptionTable, TheBashCompletionOffersEveryRowAsTheParserReadsIt)
{
	std::set<std::string> options = {"--"}, valued, paths, users;
	for (const OptionRow *row = optionTable; row->name; row++) {
		options.insert(row->name);
		if (row->kind == optionSilent)
			options.insert("-s");
		bool takesValue = row->kind != optionFlag && row->kind != optionSilent && row->kind != optionHelp
			&& row->kind != optionVersion;
		EXPECT_EQ(takesValue, row->value != nullptr) << row->name << ": the help names a value it does not take";
		if (takesValue)
			valued.insert(row->name);
		if (row->value && (strcmp(row->value, "PATH") == 0 || strcmp(row->value, "DIR") == 0
			|| strcmp(row->value, "FILE") == 0))
			paths.insert(row->name);
		if (row->kind == optionUser)
			users.insert(row->name);
	}
	EXPECT_EQ(completionList("options"), options);
	EXPECT_EQ(completionList("valued"), valued);
	EXPECT_EQ(completionList("paths"), paths);
	EXPECT_EQ(completionList("users"), users);
}

}  // namespace
