// The interactive agent, driven through its standard input as a person at a
// terminal or a script over a pipe drives it, against the test double.
#include "support/tool_under_test.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string menu =
	"Please choose an action:\n"
	"enable(e)\n"
	"markactive(m)\n"
	"isenabled(i)\n"
	"getappstatus(g)\n"
	"postappstateNeedReset(p)\n"
	"postappstateOk(o)\n"
	"disable(d)\n"
	"toggle silent output mode(s)\n"
	"quit program(q)\n"
	"\n";

// What the agent prints for one line: the echo, the reply, the next menu.
std::string step(char letter, const std::string &reply)
{
	return "Parsing command " + std::string(1, letter) + "\n" + reply + menu;
}

std::string quitting()
{
	return "Parsing command q\nQuitting program\n";
}

std::string notRecognized(char letter)
{
	return step(letter, "Command not recognized: " + std::string(1, letter) + "\n");
}

struct Row {
	std::string name;
	std::vector<std::string> options;  // beside runAsAgent
	std::string input;
	DoubleScript script;
	std::string out;
	std::string err;
	std::vector<std::string> calls;
};

void expectRows(const std::vector<Row> &rows, RunSpec base = {})
{
	for (const Row &row : rows) {
		SCOPED_TRACE(row.name);
		RunSpec setup = base;
		setup.args = {"runAsAgent"};
		setup.args.insert(setup.args.end(), row.options.begin(), row.options.end());
		setup.input = row.input;
		expectRun(runAgainstDouble(setup, row.script), row.out, row.err, 0, row.calls);
	}
}

TEST(Agent, ChangingLettersCallTheLibraryAndReportFailuresUnderTheLetter)
{
	struct Letter {
		char letter;
		std::string announcement;
		std::string call;
	};
	const std::vector<Letter> letters = {
		{'e', "Enabling app monitoring\n", "Enable"},
		{'d', "Disabling app monitoring\n", "Disable"},
		{'m', "Marking active by sending a heartbeat\n", "MarkActive"},
		{'p', "Posting application state appStateNeedReset\n", "PostAppState appStateNeedReset"},
		{'o', "Posting application state appStateOk\n", "PostAppState appStateOk"},
	};
	const std::vector<std::pair<std::string, std::string>> results = {
		{"0", ""},
		{"1", "Unspecified error occurred"},
		{"2", "pulsewarden must be run in a Corvane Virtual Machine"},
		{"3", "Application monitoring is not enabled"},
		{"4", "Application monitoring is not supported"},
		{"5", "Unknown error (5) occurred"},
		{"-1", "Unknown error (-1) occurred"},
		{"256", "Unknown error (256) occurred"},
	};
	std::vector<Row> rows;
	for (const Letter &l : letters) {
		for (const auto &[code, message] : results) {
			std::string err = message.empty() ? "" : std::string(1, l.letter) + ": " + message + "\n";
			rows.push_back({std::string(1, l.letter) + " answering " + code, {},
				std::string(1, l.letter) + "\nq\n", answering(code),
				menu + step(l.letter, l.announcement) + quitting(), err, {l.call}});
		}
	}
	expectRows(rows);
}

TEST(Agent, QueriesPrintTheirResultUnlessSilent)
{
	const std::string checking = "Checking whether app monitoring is enabled or not\n";
	const std::string getting = "Getting application status\n";
	const std::vector<std::string> getAndFree = {"GetAppStatus -> #1", "Free #1"};
	expectRows({
		{"i false", {}, "i\n", enabledByte("0"), menu + step('i', checking + "false\n"), "", {"IsEnabled"}},
		{"i true", {}, "i\n", enabledByte("1"), menu + step('i', checking + "true\n"), "", {"IsEnabled"}},
		{"i true of 0x80", {}, "i\n", enabledByte("0x80"), menu + step('i', checking + "true\n"), "", {"IsEnabled"}},
		{"i silent from -s", {"-s"}, "i\n", enabledByte("1"), menu + step('i', checking), "", {"IsEnabled"}},
		{"g green", {}, "g\n", status("green"), menu + step('g', getting + "green\n"), "", getAndFree},
		{"g word as given", {}, "g\n", status("Amber %s"), menu + step('g', getting + "Amber %s\n"), "", getAndFree},
		{"g null: nothing more, nothing freed", {}, "g\n", {}, menu + step('g', getting), "",
			{"GetAppStatus -> null"}},
		{"g silent from --silent", {"--silent"}, "g\n", status("red"), menu + step('g', getting), "", getAndFree},
		{"g twice, each freed once", {}, "g\ng\n", status("gray"),
			menu + step('g', getting + "gray\n") + step('g', getting + "gray\n"), "",
			{"GetAppStatus -> #1", "Free #1", "GetAppStatus -> #2", "Free #2"}},
	});
}

TEST(Agent, SToggleSilentModeFromWhereTheOptionsLeftIt)
{
	const std::string silenced = "Silenced the outputs\n";
	const std::string verbose = "Outputs are verbose(non-silent)\n";
	const std::string checking = "Checking whether app monitoring is enabled or not\n";
	expectRows({
		{"from verbose", {}, "s\ni\ns\ni\n", enabledByte("1"),
			menu + step('s', silenced) + step('i', checking) + step('s', verbose)
				+ step('i', checking + "true\n"), "", {"IsEnabled", "IsEnabled"}},
		{"from silent", {"-s"}, "s\ni\n", enabledByte("1"),
			menu + step('s', verbose) + step('i', checking + "true\n"), "", {"IsEnabled"}},
		{"messages stay in silent mode", {"-s", "-s"}, "e\n", answering("3"),
			menu + step('e', "Enabling app monitoring\n"), "e: Application monitoring is not enabled\n",
			{"Enable"}},
	});
}

TEST(Agent, CommandIsTheLastCharacterOfTheLine)
{
	expectRows({
		{"q quits and reads no further", {}, "q\ne\n", {}, menu + quitting(), "", {}},
		{"quit is t", {}, "quit\n", {}, menu + notRecognized('t'), "", {}},
		{"xe is e", {}, "xe\n", {}, menu + step('e', "Enabling app monitoring\n"), "", {"Enable"}},
		{"upper case", {}, "E\nQ\n", {}, menu + notRecognized('E') + notRecognized('Q'), "", {}},
		{"empty line first", {}, "\n", {}, menu + notRecognized('\n'), "", {}},
		{"empty lines between", {}, "e\n\n\nd\n", {},
			menu + step('e', "Enabling app monitoring\n") + notRecognized('\n') + notRecognized('\n')
				+ step('d', "Disabling app monitoring\n"), "", {"Enable", "Disable"}},
		{"NUL byte", {}, std::string("\0\n", 2), {}, menu + notRecognized('\0'), "", {}},
		{"byte above 127", {}, "\xe9\n", {}, menu + notRecognized('\xe9'), "", {}},
		{"percent sign", {}, "%\n", {}, menu + notRecognized('%'), "", {}},
		{"CR LF lines", {}, "e\r\nq\r\n", {}, menu + step('e', "Enabling app monitoring\n") + quitting(), "",
			{"Enable"}},
		{"CR LF empty line", {}, "\r\n", {}, menu + notRecognized('\n'), "", {}},
		{"lone CR is a command", {}, "e\r\r\n", {}, menu + notRecognized('\r'), "", {}},
		{"CR inside a line", {}, "e\rm\n", {}, menu + step('m', "Marking active by sending a heartbeat\n"),
			"", {"MarkActive"}},
	});
}

TEST(Agent, EndOfInputEndsWithStatus0AfterTheLastMenu)
{
	expectRows({
		{"no input", {}, "", {}, menu, "", {}},
		{"last line without newline", {}, "e", {}, menu + step('e', "Enabling app monitoring\n"), "",
			{"Enable"}},
		{"two lines, the last unterminated", {}, "e\nm", {},
			menu + step('e', "Enabling app monitoring\n") + step('m', "Marking active by sending a heartbeat\n"),
			"", {"Enable", "MarkActive"}},
		{"unterminated CR", {}, "e\r", {}, menu + notRecognized('\r'), "", {}},
	});
	for (Stream in : {Stream::closed, Stream::devNull}) {
		SCOPED_TRACE(in == Stream::closed ? "stdin closed" : "stdin /dev/null");
		RunSpec setup;
		setup.in = in;
		expectRows({{"", {}, "", {}, menu, "", {}}}, setup);
	}
}

TEST(Agent, FailuresReadInOrderWithBothStreamsOnOnePipe)
{
	RunSpec merged;
	merged.err = Stream::intoStdout;
	expectRows({
		{"e fails, m fails, o succeeds", {}, "e\nm\no\nq\n", answering("3,-7,0"),
			menu + step('e', "Enabling app monitoring\ne: Application monitoring is not enabled\n")
				+ step('m', "Marking active by sending a heartbeat\nm: Unknown error (-7) occurred\n")
				+ step('o', "Posting application state appStateOk\n") + quitting(),
			"", {"Enable", "MarkActive", "PostAppState appStateOk"}},
	}, merged);
}

TEST(Agent, LongLinesAndManyCommands)
{
	RunSpec setup;
	setup.args = {"runAsAgent"};
	setup.input = std::string(32 << 20, 'x') + "m\nq\n";
	DoubleRun r = runAgainstDouble(setup, {});
	EXPECT_EQ(r.run.status, 0);
	EXPECT_TRUE(r.run.out == asWritten(menu + step('m', "Marking active by sending a heartbeat\n") + quitting()));
	EXPECT_EQ(r.calls, std::vector<std::string>{"MarkActive"});

	std::string input, expected = menu;
	for (int i = 0; i < 3000; i++) {
		input += "m\n";
		expected += step('m', "Marking active by sending a heartbeat\n");
	}
	setup.input = input;
	r = runAgainstDouble(setup, {});
	EXPECT_EQ(r.run.status, 0);
	EXPECT_TRUE(r.run.out == asWritten(expected)) << "output of " << r.run.out.size() << " bytes differs";
	EXPECT_EQ(r.calls.size(), 3000u);
}

TEST(Agent, ReadFailureIsNotTheEndOfInput)
{
	if (windowsBuild())
		GTEST_SKIP() << "a directory as standard input is a Linux case";
	RunSpec setup;
	setup.args = {"runAsAgent"};
	setup.in = Stream::directory;
	expectRun(runAgainstDouble(setup, {}), menu, "runAsAgent: Cannot read standard input: Is a directory\n",
		104, {});
}

// A driver that writes a line only after it has read the menu: the agent
// must not keep that menu in a buffer while it waits, nor take a
// non-blocking input that has no line yet for its end.
void expectDialogue(Stream in)
{
	std::string dir = makeTempDir("dialogue");
	RunSpec setup;
	setup.in = in;
	setup.args = {"runAsAgent"};
	setup.timeoutSeconds = 20;
	setup.env = {"LD_LIBRARY_PATH=" + doubleDir(), "TENDWELL_DOUBLE_STATUS=green",
		"TENDWELL_DOUBLE_RESULTS=0,3", "TENDWELL_DOUBLE_LOG=" + dir + "/calls"};
	Session agent;
	ASSERT_TRUE(startTool(&agent, setup, doubleToolPath()));
	ASSERT_TRUE(agent.waitForOutput(asWritten(menu)));
	std::string expected = menu;
	struct {
		const char *line;
		char letter;
		const char *reply;
	} dialogue[] = {
		{"e\n", 'e', "Enabling app monitoring\n"},
		{"g\r\n", 'g', "Getting application status\ngreen\n"},
		{"m\n", 'm', "Marking active by sending a heartbeat\n"},
		{"\n", '\n', "Command not recognized: \n\n"},
	};
	for (const auto &d : dialogue) {
		SCOPED_TRACE(d.line);
		agent.send(d.line);
		expected += step(d.letter, d.reply);
		ASSERT_TRUE(agent.waitForOutput(asWritten(expected))) << "no reply; got:\n" << agent.result.out << "\nand on stderr:\n" << agent.result.err;
	}
	EXPECT_EQ(agent.result.err, asWritten("m: Application monitoring is not enabled\n"));
	agent.send("q\n");
	RunResult r = finishTool(&agent);
	EXPECT_EQ(r.out, asWritten(expected + quitting()));
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(readFile(dir + "/calls"), "Enable\nGetAppStatus -> #1\nFree #1\nMarkActive\n");
	removeTree(dir);
}

TEST(Agent, AnswersEachLineBeforeWaitingForTheNext)
{
	expectDialogue(Stream::captured);
	if (!windowsBuild()) {
		SCOPED_TRACE("non-blocking input");
		expectDialogue(Stream::capturedNonBlocking);
	}
}

TEST(Agent, OutputThatCannotBeWrittenChangesNothing)
{
	for (Stream out : {Stream::closed, Stream::devFull}) {
		SCOPED_TRACE(out == Stream::closed ? "closed" : "full");
		RunSpec setup;
		setup.out = out;
		expectRows({{"", {}, "e\ng\nq\n", status("red"), "", "", {"Enable", "GetAppStatus -> #1", "Free #1"}}},
			setup);
	}
}

} // namespace
