// watch, against the simulated platform, with a check whose behaviour a
// file sets: it passes, fails saying why, or hangs with a grandchild. No
// test is timed: each waits (boundedly) for the lines it expects, in order.
#include "support/tool_under_test.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Watch : public testing::Test {
protected:
	void SetUp() override
	{
		if (windowsBuild())
			GTEST_SKIP() << "the checks here are shell scripts";
		root = makeTempDir("watch");
		check = root + "/check";
		writeFile(check, "#!/bin/sh\n"
			"case $(cat \"$0.mode\" 2>/dev/null) in\n"
			"fail) echo 'database unreachable'; echo more; exit 3 ;;\n"
			"hang) trap '' TERM; sh -c 'echo $$ > \"$0.grandchild\"; exec sleep 1000' \"$0\" & sleep 1000 ;;\n"
			"esac\n");
		ASSERT_EQ(chmod(check.c_str(), 0755), 0);
	}
	void TearDown() override
	{
		if (!root.empty())
			removeTree(root);
	}

	RunSpec watching(std::vector<std::string> args)
	{
		RunSpec setup;
		setup.args = {"watch"};
		setup.args.insert(setup.args.end(), args.begin(), args.end());
		setup.env = {"CORVANE_SIM_STATE_DIR=" + root + "/state"};
		setup.err = Stream::intoStdout;  // it writes nothing else there
		setup.timeoutSeconds = 60;
		return setup;
	}

	RunResult tool(std::vector<std::string> args, const std::string &program = toolPath())
	{
		RunSpec setup;
		setup.args = std::move(args);
		setup.env = {"CORVANE_SIM_STATE_DIR=" + root + "/state"};
		return runProgram(program, setup);
	}

	void setMode(const char *mode) { writeFile(check + ".mode", mode); }

	// The lines said so far, without their time.
	static std::vector<std::string> said(const std::string &out)
	{
		std::vector<std::string> lines;
		for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
			lines.push_back(out.substr(at + 20, end - at - 20));
		return lines;
	}

	std::string root, check;
};

TEST_F(Watch, CommandLinesItCannotUseGetItsOwnUsage)
{
	struct {
		std::vector<std::string> args;
		std::string why;
	} rows[] = {
		{{"watch"}, "a check to run, or --pid, is needed"},
		{{"watch", "--interval", "10", "--timeout", "20", "true"},
			"the interval (10 s) and the timeout (20 s) must add up to less than the window (30 s)"},
		{{"watch", "--interval", "1.5s", "true"}, "--interval: \"1.5s\" is not a duration"},
		{{"watch", "--pid", "1", "true"}, "a check and --pid exclude each other"},
		{{"watch", "--interval=0", "true"}, "--interval: \"0\" is not a duration"},
	};
	for (const auto &row : rows) {
		RunSpec setup;
		setup.args = row.args;
		RunResult r = runTool(setup);
		EXPECT_EQ(r.status, 100);
		EXPECT_EQ(r.err.rfind("watch: " + row.why, 0), 0u) << r.err;
		EXPECT_NE(r.err.find("watch [OPTION...] --pid PID\n"), std::string::npos);
		EXPECT_EQ(r.out, "");
	}
	// Its options belong to it alone.
	RunSpec other;
	other.args = {"--interval", "5", "enable"};
	RunResult r = runTool(other);
	EXPECT_EQ(r.status, 100);
	EXPECT_EQ(r.err, asWritten(usageLine(toolPath())));
}

TEST_F(Watch, HeartbeatsWhileHealthyAndSaysWhyWhenNot)
{
	Session watch;
	ASSERT_TRUE(startTool(&watch, watching({"--enable", "--interval", "200ms", "--timeout", "500ms",
		"--window", "2s", "--need-reset-after", "2", check})));
	ASSERT_TRUE(watch.waitForOutput("heartbeats start\n"));
	EXPECT_EQ(tool({"getAppStatus"}).out, "green\n");
	setMode("fail");
	ASSERT_TRUE(watch.waitForOutput("failed checks in a row\n"));
	EXPECT_EQ(tool({"getAppStatus"}).out, "red\n") << "need-reset posted";
	setMode("pass");
	ASSERT_TRUE(watch.waitForOutput("heartbeats start again\n"));
	EXPECT_EQ(tool({"getAppStatus"}).out, "green\n") << "appStateOk posted again";
	kill(watch.pid, SIGTERM);
	RunResult r = finishTool(&watch);
	EXPECT_EQ(r.status, 0);
	EXPECT_EQ(said(r.out), (std::vector<std::string>{
		"watch: watching: " + check + " every 200 ms, timeout 500 ms (window 2 s); monitoring switched on; starting",
		"watch: healthy: the check passed; heartbeats start",
		"watch: failing: exit status 3: \"database unreachable\"; heartbeats stop",
		"watch: posted appStateNeedReset after 2 failed checks in a row",
		"watch: healthy again: 1 passing check; heartbeats start again",
		"watch: stopping: monitoring switched off, as it was found",
	}));
	EXPECT_EQ(tool({"isEnabled"}).out, "false\n");
}

TEST_F(Watch, AHungCheckEndsWithAllItStartedAndOverrunsAreSaidOnce)
{
	setMode("hang");
	ASSERT_EQ(tool({"enable"}).status, 0);
	Session watch;
	ASSERT_TRUE(startTool(&watch, watching({"--interval", "100ms", "--timeout", "300ms", check})));
	ASSERT_TRUE(watch.waitForOutput("until it ends\n"));
	setMode("pass");
	ASSERT_TRUE(watch.waitForOutput("heartbeats start\n"));
	// Killed with its group, even ignoring SIGTERM: gone, or a zombie
	// waiting for whoever adopted it.
	std::string grandchild = readFile(check + ".grandchild");
	ASSERT_FALSE(grandchild.empty());
	std::string stat = readFile("/proc/" + grandchild.substr(0, grandchild.find('\n')) + "/stat");
	EXPECT_TRUE(stat.empty() || stat.find(") Z ") != std::string::npos) << "the grandchild outlived the check";
	kill(watch.pid, SIGTERM);
	RunResult r = finishTool(&watch);
	EXPECT_EQ(said(r.out), (std::vector<std::string>{
		"watch: watching: " + check + " every 100 ms, timeout 300 ms (window 30 s); starting",
		"watch: the check is still running at its next start: starts are skipped until it ends",
		"watch: healthy: the check passed; heartbeats start",
		"watch: stopping: heartbeats stop; the platform will see them stop (see --enable)",
	}));
}

TEST_F(Watch, PausesWhileMonitoringIsSwitchedOffAndResumes)
{
	ASSERT_EQ(tool({"enable"}).status, 0);
	Session watch;
	ASSERT_TRUE(startTool(&watch, watching({"--interval", "100ms", "--timeout", "500ms", "--window", "1s", "true"})));
	ASSERT_TRUE(watch.waitForOutput("heartbeats start\n")) << watch.result.out;
	ASSERT_EQ(tool({"disable"}).status, 0);
	ASSERT_TRUE(watch.waitForOutput("asking again every 100 ms\n"));
	ASSERT_EQ(tool({"enable"}).status, 0);
	ASSERT_TRUE(watch.waitForOutput("resumed: monitoring is on again\n"));
	kill(watch.pid, SIGINT);
	EXPECT_EQ(finishTool(&watch).status, 0);
	EXPECT_EQ(tool({"isEnabled"}).out, "true\n") << "switched on by someone else: left on";
}

TEST_F(Watch, EndsWithADistinctStatusForEachCause)
{
	RunResult r = runTool(watching({root + "/missing"}));
	EXPECT_EQ(r.status, 105);
	EXPECT_EQ(said(r.out), std::vector<std::string>{"watch: cannot start the check: " + root + "/missing: not found"});

	setMode("fail");
	EXPECT_EQ(runTool(watching({"--interval", "100ms", "--start-timeout", "300ms", check})).status, 106);

	EXPECT_EQ(runTool(watching({"--pid", "2147483646"})).status, 107);

	// -s hides healthy progress, never an error.
	ASSERT_EQ(tool({"answer", "markActive", "2"}, PULSEWARDEN_BUILT_SIM).status, 0);
	r = runTool(watching({"-s", "--enable", "true"}));
	EXPECT_EQ(r.status, 2);
	EXPECT_EQ(said(r.out), std::vector<std::string>{
		"watch: markActive: pulsewarden must be run in a Corvane Virtual Machine; stopping"});
}

TEST_F(Watch, IntoTheJournalLinesCarryAPriorityNotTheTime)
{
	RunSpec setup = watching({"--pid", "2147483646"});
	// The journal's stream is whatever stderr is: here, the test's pipe.
	setup.args.insert(setup.args.begin(), {"-c",
		"JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) exec \"$0\" \"$@\"", toolPath()});
	RunResult r = runProgram("/bin/sh", setup);
	EXPECT_EQ(r.out, "<3>watch: process 2147483646 does not exist\n");
}

} // namespace
