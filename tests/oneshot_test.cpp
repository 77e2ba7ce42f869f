// The one-shot commands, run as a script runs them, against the test double:
// arguments in, stdout, stderr, exit status and the library calls out.
#include "support/tool_under_test.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

struct Row {
	std::string name;
	std::vector<std::string> args;
	DoubleScript script;
	std::string out;
	std::string err;
	int status;
	std::vector<std::string> calls;
};

void expectRows(const std::vector<Row> &rows, const RunSpec &base = {})
{
	for (const Row &row : rows) {
		SCOPED_TRACE(row.name);
		RunSpec setup = base;
		setup.args = row.args;
		expectRun(runAgainstDouble(setup, row.script), row.out, row.err, row.status, row.calls);
	}
}

const std::vector<std::string> getAndFree = {"GetAppStatus -> #1", "Free #1"};

Row misuse(const std::string &name, const std::vector<std::string> &args)
{
	return {name, args, {}, "", usageLine(doubleToolPath()), 100, {}};
}

TEST(Misuse, PrintsUsageAndExits100BeforeAnyLibraryCall)
{
	expectRows({
		misuse("no arguments", {}),
		misuse("only -s", {"-s"}),
		misuse("only options", {"--silent", "-s", "--silent"}),
		misuse("capitalised word", {"Enable"}),
		misuse("unknown word", {"stats"}),
		misuse("prefix of a word", {"enabl"}),
		misuse("word with a suffix", {"enable2"}),
		misuse("empty argument", {""}),
		misuse("option-like argument", {"-S"}),
		misuse("option with a value", {"--silent=1"}),
		misuse("double dash", {"--", "enable"}),
		misuse("two command words", {"enable", "disable"}),
		misuse("same word twice", {"isEnabled", "isEnabled"}),
		misuse("word after an option after a word", {"markActive", "-s", "enable"}),
		misuse("stray word after a command", {"enable", "now"}),
		misuse("postAppState without operand", {"postAppState"}),
		misuse("postAppState without operand after -s", {"-s", "postAppState"}),
		misuse("postAppState with two operands", {"postAppState", "appStateOk", "appStateOk"}),
		misuse("runAsAgent with a second word", {"runAsAgent", "enable"}),
		misuse("word before runAsAgent", {"getAppStatus", "runAsAgent"}),
		// Scripts have always had the usage line for these: help is a word.
		misuse("--help", {"--help"}),
		misuse("-h", {"-h"}),
		misuse("--version", {"--version"}),
		misuse("help with a stray word", {"help", "watch"}),
	});
}

// help names every command, the tool's own too, after the usage line that
// misuse prints, on standard output and with 0, asking nothing of the
// library, even with -s.
TEST(Help, NamesEveryCommandAfterTheUsageLine)
{
	for (const std::vector<std::string> &args : {std::vector<std::string>{"help"}, {"-s", "help"}}) {
		SCOPED_TRACE(args.front());
		RunSpec setup;
		setup.args = args;
		DoubleRun r = runAgainstDouble(setup, {});
		EXPECT_EQ(r.run.status, 0);
		EXPECT_EQ(r.run.err, "");
		EXPECT_TRUE(r.calls.empty());
		EXPECT_EQ(r.run.out.rfind(asWritten(usageLine(doubleToolPath())), 0), 0u) << r.run.out;
		for (const char *word : {"enable", "disable", "markActive", "isEnabled", "getAppStatus", "postAppState",
			     "runAsAgent", "watch", "status", "service", "-s,"})
			EXPECT_NE(r.run.out.find(asWritten("\n  ") + word + " "), std::string::npos) << word;
	}
}

TEST(Misuse, UsageLineNamesTheProgramAsInvoked)
{
	if (toolIsWrapped())
		GTEST_SKIP() << "a wrapper starts the tool under its own name";
	for (const char *name : {"pulsewarden", "/opt/corvane/bin/pulsewarden", "./pw", "pw %s %d %n"}) {
		SCOPED_TRACE(name);
		RunSpec setup;
		setup.invocationName = name;
		DoubleRun r = runAgainstDouble(setup, {});
		EXPECT_EQ(r.run.err, asWritten(usageLine(name)));
		EXPECT_EQ(r.run.out, "");
		EXPECT_EQ(r.run.status, 100);
	}
}

// What each result code of a changing command prints and exits with.
struct Outcome {
	int code;
	int status;            // on Linux; on Windows the exit status is the code
	std::string message;   // after "word: "
};

const std::vector<Outcome> outcomes = {
	{0, 0, ""},
	{1, 1, "Unspecified error occurred"},
	{2, 2, "pulsewarden must be run in a Corvane Virtual Machine"},
	{3, 3, "Application monitoring is not enabled"},
	{4, 4, "Application monitoring is not supported"},
	{5, 5, "Unknown error (5) occurred"},
	{-1, 255, "Unknown error (-1) occurred"},
	{-4, 252, "Unknown error (-4) occurred"},
	{257, 1, "Unknown error (257) occurred"},
	{258, 2, "Unknown error (258) occurred"},
	// Low 8 bits all zero: the exit status would read as success.
	{256, 1, "Unknown error (256) occurred"},
	{-256, 1, "Unknown error (-256) occurred"},
	{INT_MIN, 1, "Unknown error (-2147483648) occurred"},
	{INT_MAX, 255, "Unknown error (2147483647) occurred"},
};

TEST(ChangingCommands, ReportEachResultCodeUnderTheWordAndExitWithIt)
{
	struct Command {
		std::vector<std::string> args;
		std::string call;
	};
	const std::vector<Command> commands = {
		{{"enable"}, "Enable"},
		{{"disable"}, "Disable"},
		{{"markActive"}, "MarkActive"},
		{{"postAppState", "appStateOk"}, "PostAppState appStateOk"},
		{{"postAppState", "appStateNeedReset"}, "PostAppState appStateNeedReset"},
	};
	std::vector<Row> rows;
	for (const Command &c : commands) {
		for (const Outcome &o : outcomes) {
			std::string err = o.message.empty() ? "" : c.args[0] + ": " + o.message + "\n";
			rows.push_back({c.call + " answering " + std::to_string(o.code), c.args,
				answering(std::to_string(o.code)), "", err, byBuild(o.status, o.code), {c.call}});
		}
	}
	expectRows(rows);
}

TEST(ChangingCommands, SilentModeNeverHidesErrorMessages)
{
	const std::string notEnabled = "markActive: Application monitoring is not enabled\n";
	expectRows({
		{"-s before", {"-s", "markActive"}, answering("3"), "", notEnabled, 3, {"MarkActive"}},
		{"--silent after", {"markActive", "--silent"}, answering("3"), "", notEnabled, 3, {"MarkActive"}},
		{"success stays quiet", {"--silent", "enable", "-s"}, answering("0"), "", "", 0, {"Enable"}},
	});
}

TEST(PostAppState, TakesTheNextArgumentAsTypedWhereverTheWordStands)
{
	expectRows({
		{"option first", {"-s", "postAppState", "appStateOk"}, {}, "", "", 0,
			{"PostAppState appStateOk"}},
		{"option last", {"postAppState", "appStateOk", "-s"}, {}, "", "", 0,
			{"PostAppState appStateOk"}},
		{"operand reading --silent", {"postAppState", "--silent"}, {}, "", "", 0,
			{"PostAppState --silent"}},
		{"operand reading -s, then an option", {"postAppState", "-s", "-s"}, {}, "", "", 0,
			{"PostAppState -s"}},
		{"operand that is a command word", {"postAppState", "enable"}, {}, "", "", 0,
			{"PostAppState enable"}},
		{"empty operand", {"postAppState", ""}, {}, "", "", 0, {"PostAppState "}},
		{"unchecked text", {"postAppState", "whatever"}, answering("1"), "",
			"postAppState: Unspecified error occurred\n", 1, {"PostAppState whatever"}},
		{"percent signs", {"postAppState", "%s%n"}, {}, "", "", 0, {"PostAppState %s%n"}},
	});
}

TEST(PostAppState, PassesBytesOutsideAsciiAsTyped)
{
	if (windowsBuild())
		GTEST_SKIP() << "Windows arguments are text in a code page, not bytes";
	RunSpec setup;
	setup.args = {"postAppState", "\xff\xfe\x01"};
	expectRun(runAgainstDouble(setup, {}), "", "", 0, {"PostAppState \\xff\\xfe\\x01"});
}

TEST(Arguments, ExtremeButHarmless)
{
	if (windowsBuild())
		GTEST_SKIP() << "a Windows command line holds 32,767 characters in all";
	// The kernel takes one argument of up to 128 KiB, its NUL included.
	const std::string longest(128 * 1024 - 1, 'a');
	RunSpec setup;
	setup.args = {"postAppState", longest};
	DoubleRun r = runAgainstDouble(setup, {});
	EXPECT_EQ(r.run.status, 0);
	ASSERT_EQ(r.calls.size(), 1u);
	EXPECT_TRUE(r.calls[0] == "PostAppState " + longest) << "operand changed on the way";

	setup.args = {longest};
	expectRun(runAgainstDouble(setup, {}), "", usageLine(doubleToolPath()), 100, {});
	if (!toolIsWrapped()) {
		setup.args = {};
		setup.invocationName = longest.c_str();
		EXPECT_TRUE(runAgainstDouble(setup, {}).run.err == usageLine(longest));
	}

	RunSpec many;
	many.args.assign(100000, "-s");
	many.args.insert(many.args.begin() + 50000, "isEnabled");
	expectRun(runAgainstDouble(many, enabledByte("1")), "", "", 1, {"IsEnabled"});
	many.args.push_back("--silent=");
	expectRun(runAgainstDouble(many, {}), "", usageLine(doubleToolPath()), 100, {});

	expectRows({
		misuse("bytes outside UTF-8", {"\xff\xfe\xc0\x80"}),
		misuse("word with a newline", {"enable\n"}),
		misuse("two empty arguments", {"", ""}),
	});
}

TEST(GetAppStatus, PrintsTheWordAndExitsWithItsNumberFreeingItOnce)
{
	expectRows({
		{"gray", {"getAppStatus"}, status("gray"), "gray\n", "", 0, getAndFree},
		{"green", {"getAppStatus"}, status("green"), "green\n", "", 1, getAndFree},
		{"red", {"getAppStatus"}, status("red"), "red\n", "", 2, getAndFree},
		{"upper case is another word", {"getAppStatus"}, status("Green"), "Green\n", "", 3, getAndFree},
		{"unknown word", {"getAppStatus"}, status("amber"), "amber\n", "", 3, getAndFree},
		{"percent signs printed as they are", {"getAppStatus"}, status("50%s %d%%"),
			"50%s %d%%\n", "", 3, getAndFree},
		{"empty word", {"getAppStatus"}, status(""), "\n", "", 3, getAndFree},
		{"word with a prefix of green", {"getAppStatus"}, status("gree"), "gree\n", "", 3, getAndFree},
		{"silent before", {"-s", "getAppStatus"}, status("green"), "", "", 1, getAndFree},
		{"silent after", {"getAppStatus", "--silent"}, status("red"), "", "", 2, getAndFree},
		{"null: nothing printed, never freed", {"getAppStatus"}, {}, "", "", 103,
			{"GetAppStatus -> null"}},
		{"null in silent mode", {"getAppStatus", "-s"}, {}, "", "", 103, {"GetAppStatus -> null"}},
	});
}

TEST(IsEnabled, PrintsTrueOrFalseAndExitsWithTheByteAsSigned8Bits)
{
	const std::vector<std::string> call = {"IsEnabled"};
	expectRows({
		{"false", {"isEnabled"}, enabledByte("0"), "false\n", "", 0, call},
		{"true", {"isEnabled"}, enabledByte("1"), "true\n", "", 1, call},
		{"true of 2", {"isEnabled"}, enabledByte("2"), "true\n", "", 2, call},
		{"true of 0x80", {"isEnabled"}, enabledByte("0x80"), "true\n", "", byBuild(128, -128), call},
		{"true of 0xff", {"isEnabled"}, enabledByte("0xff"), "true\n", "", byBuild(255, -1), call},
		{"silent true", {"isEnabled", "-s"}, enabledByte("1"), "", "", 1, call},
		{"silent false", {"--silent", "isEnabled"}, enabledByte("0"), "", "", 0, call},
	});
}

TEST(Streams, ExitStatusCarriesTheOutcomeWhenOutputCannotBeWritten)
{
	for (Stream how : {Stream::closed, Stream::devFull}) {
		SCOPED_TRACE(how == Stream::closed ? "closed" : "full");
		RunSpec out;
		out.out = how;
		expectRows({
			{"isEnabled", {"isEnabled"}, enabledByte("1"), "", "", 1, {"IsEnabled"}},
			{"getAppStatus", {"getAppStatus"}, status("red"), "", "", 2, getAndFree},
		}, out);
		RunSpec err;
		err.err = how;
		expectRows({
			{"failing enable", {"enable"}, answering("3"), "", "", 3, {"Enable"}},
			{"misuse", {"enable", "disable"}, {}, "", "", 100, {}},
		}, err);
	}
	RunSpec in;
	in.in = Stream::closed;
	expectRows({{"stdin closed", {"markActive"}, {}, "", "", 0, {"MarkActive"}}}, in);
}

TEST(Streams, ErrorsGoToStderrOnly)
{
	RunSpec merged;
	merged.err = Stream::intoStdout;
	expectRows({
		{"message on the shared pipe", {"disable"}, answering("4"),
			"disable: Application monitoring is not supported\n", "", 4, {"Disable"}},
	}, merged);
}

TEST(Library, AnotherBuildTakesItsPlaceThroughThePreloadList)
{
	if (windowsBuild())
		GTEST_SKIP() << "Windows has no preload list";
	std::string dir = makeTempDir("preload");
	RunSpec setup;
	setup.args = {"getAppStatus"};
	setup.env = {"LD_PRELOAD=" + doubleDir() + "/libcorvane-pulsewarden.so.1",
		"TENDWELL_DOUBLE_STATUS=red", "TENDWELL_DOUBLE_LOG=" + dir + "/calls",
		// A sanitized build wants its runtime first; the preload comes first.
		"ASAN_OPTIONS=verify_asan_link_order=0"};
	RunResult r = runTool(setup);
	EXPECT_EQ(r.out, "red\n");
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(readFile(dir + "/calls"), "GetAppStatus -> #1\nFree #1\n");
	removeTree(dir);
}

} // namespace
