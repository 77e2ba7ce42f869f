// The tool with the library it ships, whose simulated platform keeps its
// state between processes: run as a user runs it, one process per command.
#include "support/tool_under_test.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

class SimulatedPlatform : public testing::Test {
protected:
	void SetUp() override
	{
		root = makeTempDir("sim");
		stateDir = root + "/state";
	}
	void TearDown() override
	{
		chmod(stateDir.c_str(), 0700);
		removeTree(root);
	}

	RunResult run(std::vector<std::string> args, RunSpec setup = {})
	{
		setup.args = std::move(args);
		setup.env.push_back("CORVANE_SIM_STATE_DIR=" + stateDir);
		return runTool(setup);
	}

	struct Step {
		std::vector<std::string> args;
		std::string out;
		std::string err;
		int status;
	};

	void expectSteps(const std::vector<Step> &steps, RunSpec setup = {})
	{
		int i = 0;
		for (const Step &step : steps) {
			SCOPED_TRACE("step " + std::to_string(++i) + ": " + step.args[0]);
			RunResult r = run(step.args, setup);
			EXPECT_FALSE(r.timedOut);
			EXPECT_EQ(r.out, asWritten(step.out));
			EXPECT_EQ(r.err, asWritten(step.err));
			EXPECT_EQ(r.status, step.status);
		}
	}

	std::string stateFile() const { return stateDir + "/state"; }

	std::string root;
	std::string stateDir;
};

const std::string notEnabled = ": Application monitoring is not enabled\n";
const std::string unspecified = ": Unspecified error occurred\n";

TEST_F(SimulatedPlatform, MonitoringLifecycle)
{
	expectSteps({
		{{"isEnabled"}, "false\n", "", 0},
		{{"getAppStatus"}, "gray\n", "", 0},
		{{"markActive"}, "", "markActive" + notEnabled, 3},
		{{"postAppState", "appStateOk"}, "", "postAppState" + notEnabled, 3},
		{{"disable"}, "", "", 0},
		{{"markActive"}, "", "markActive" + notEnabled, 3},
		{{"enable"}, "", "", 0},
		{{"enable"}, "", "", 0},
		{{"isEnabled"}, "true\n", "", 1},
		{{"getAppStatus"}, "gray\n", "", 0},
		{{"postAppState", "appStateNeedReset"}, "", "", 0},
		{{"getAppStatus"}, "gray\n", "", 0},
		{{"markActive"}, "", "", 0},
		{{"getAppStatus"}, "red\n", "", 2},
		{{"postAppState", "appStateOk"}, "", "", 0},
		{{"getAppStatus"}, "green\n", "", 1},
		{{"postAppState", "appStateBogus"}, "", "postAppState" + unspecified, 1},
		{{"postAppState", "appStateok"}, "", "postAppState" + unspecified, 1},
		{{"getAppStatus"}, "green\n", "", 1},
		{{"postAppState", "appStateNeedReset"}, "", "", 0},
		{{"enable"}, "", "", 0},  // on again: the request for a reset stands
		{{"getAppStatus"}, "red\n", "", 2},
		{{"postAppState", "appStateOk"}, "", "", 0},
		{{"markActive"}, "", "", 0},
		{{"getAppStatus", "-s"}, "", "", 1},
		{{"disable"}, "", "", 0},
		{{"isEnabled"}, "false\n", "", 0},
		{{"getAppStatus"}, "gray\n", "", 0},
		{{"postAppState", "appStateOk"}, "", "postAppState" + notEnabled, 3},
	});

	struct stat dir;
	struct stat file;
	ASSERT_EQ(stat(stateDir.c_str(), &dir), 0);
	ASSERT_EQ(stat(stateFile().c_str(), &file), 0);
	if (!windowsBuild()) {
		EXPECT_EQ(dir.st_mode & 07777, 0700u);
		EXPECT_EQ(file.st_mode & 07777, 0600u);
	}
	EXPECT_NE(access((stateDir + "/state.new").c_str(), F_OK), 0) << "temporary file left behind";
}

TEST_F(SimulatedPlatform, QueriesCreateNothing)
{
	expectSteps({
		{{"isEnabled"}, "false\n", "", 0},
		{{"getAppStatus"}, "gray\n", "", 0},
	});
	EXPECT_NE(access(stateDir.c_str(), F_OK), 0);
}

TEST_F(SimulatedPlatform, HeartbeatWindowIsThePlatformsAsSetWhenEnabled)
{
	// The window of whoever asks later changes nothing; a window that is not
	// a positive number of seconds is refused and changes nothing. (Green
	// is asked only under a long window: a slow tool cannot tip it.)
	RunSpec half, hour, bad;
	half.env = {"CORVANE_SIM_HEARTBEAT_TIMEOUT=0.5"};
	hour.env = {"CORVANE_SIM_HEARTBEAT_TIMEOUT=3600"};
	bad.env = {"CORVANE_SIM_HEARTBEAT_TIMEOUT=1.5s"};
	expectSteps({{{"enable"}, "", "enable" + unspecified, 1}, {{"isEnabled"}, "false\n", "", 0}}, bad);
	expectSteps({{{"enable"}, "", "", 0}}, half);
	expectSteps({{{"markActive"}, "", "", 0}}, hour);
	usleep(700 * 1000);
	expectSteps({{{"getAppStatus"}, "red\n", "", 2}}, hour);
	// On again with a window of an hour: the heartbeat is kept, and fresh.
	expectSteps({{{"enable"}, "", "", 0}}, hour);
	expectSteps({{{"getAppStatus"}, "green\n", "", 1}}, half);
}

TEST_F(SimulatedPlatform, ManyProcessesAtOnceAllSucceedAndKeepTheStateWhole)
{
	ASSERT_EQ(run({"enable"}).status, 0);
	std::atomic<int> failures{0};
	RunResult lastFailure;
	std::mutex failureLock;
	std::vector<std::thread> workers;
	for (int w = 0; w < 8; w++) {
		workers.emplace_back([&, w] {
			for (int i = 0; i < 40; i++) {
				RunResult r;
				switch ((w + i) % 4) {
				case 0:
					r = run({"markActive"});
					failures += r.status != 0 || !r.err.empty();
					break;
				case 1:
					r = run({"postAppState", "appStateOk"});
					failures += r.status != 0 || !r.err.empty();
					break;
				case 2:
					r = run({"isEnabled"});
					failures += r.status != 1 || r.out != asWritten("true\n");
					break;
				case 3:
					// Gray until the first heartbeat lands, then green.
					r = run({"getAppStatus"});
					failures += !(r.status == 1 && r.out == asWritten("green\n"))
						&& !(r.status == 0 && r.out == asWritten("gray\n"));
					break;
				}
				if (failures.load() > 0) {
					std::lock_guard<std::mutex> hold(failureLock);
					if (lastFailure.status < 0)
						lastFailure = r;
				}
			}
		});
	}
	for (std::thread &t : workers)
		t.join();
	EXPECT_EQ(failures.load(), 0) << "last failed run: status " << lastFailure.status << ", out "
		<< lastFailure.out << ", err " << lastFailure.err;
	expectSteps({{{"getAppStatus"}, "green\n", "", 1}});
}

TEST_F(SimulatedPlatform, DamagedStateFailsUntilEnableOrDisableWritesAFreshOne)
{
	const std::string truncated = "corvane-sim-state 1\nenabled 1\nheart";
	for (const std::string &damage : {std::string(), truncated, std::string("\x7f" "ELF\x02\x01\x01\0\xff", 9)}) {
		SCOPED_TRACE("damage of " + std::to_string(damage.size()) + " bytes");
		ASSERT_EQ(run({"enable"}).status, 0);
		writeFile(stateFile(), damage);
		expectSteps({
			{{"isEnabled"}, "false\n", "", 0},
			{{"getAppStatus"}, "", "", 103},
			{{"markActive"}, "", "markActive" + unspecified, 1},
			{{"postAppState", "appStateOk"}, "", "postAppState" + unspecified, 1},
			{{"disable"}, "", "", 0},
			{{"getAppStatus"}, "gray\n", "", 0},
		});
		writeFile(stateFile(), damage);
		expectSteps({
			{{"enable"}, "", "", 0},
			{{"markActive"}, "", "", 0},
			{{"getAppStatus"}, "green\n", "", 1},
		});
	}
}

TEST_F(SimulatedPlatform, StateFileThatIsNotAFileIsNeverFollowedNorWaitedOn)
{
	if (windowsBuild())
		GTEST_SKIP() << "FIFOs and symbolic links are Linux files";
	ASSERT_EQ(run({"enable"}).status, 0);
	// A FIFO: opening it for reading must not wait for a writer.
	ASSERT_EQ(unlink(stateFile().c_str()), 0);
	ASSERT_EQ(mkfifo(stateFile().c_str(), 0600), 0);
	expectSteps({
		{{"getAppStatus"}, "", "", 103},
		{{"markActive"}, "", "markActive" + unspecified, 1},
		{{"enable"}, "", "", 0},
		{{"isEnabled"}, "true\n", "", 1},
	});

	// A symbolic link: read as damaged, replaced, its target untouched.
	std::string other = root + "/other";
	writeFile(other, "precious\n");
	ASSERT_EQ(unlink(stateFile().c_str()), 0);
	ASSERT_EQ(symlink(other.c_str(), stateFile().c_str()), 0);
	expectSteps({
		{{"isEnabled"}, "false\n", "", 0},
		{{"getAppStatus"}, "", "", 103},
		{{"disable"}, "", "", 0},
	});
	EXPECT_EQ(readFile(other), "precious\n");
	struct stat st;
	ASSERT_EQ(lstat(stateFile().c_str(), &st), 0);
	EXPECT_TRUE(S_ISREG(st.st_mode));

	// A directory cannot be replaced: every change fails.
	ASSERT_EQ(unlink(stateFile().c_str()), 0);
	ASSERT_EQ(mkdir(stateFile().c_str(), 0700), 0);
	expectSteps({
		{{"enable"}, "", "enable" + unspecified, 1},
		{{"getAppStatus"}, "", "", 103},
	});
	rmdir(stateFile().c_str());
}

TEST_F(SimulatedPlatform, UnsafeOrUnusableStateDirectoryIsRefused)
{
	if (windowsBuild())
		GTEST_SKIP() << "modes and owners are Linux checks";
	std::string real = root + "/real";
	ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
	auto expectRefused = [&](const char *what) {
		SCOPED_TRACE(what);
		expectSteps({
			{{"enable"}, "", "enable" + unspecified, 1},
			{{"disable"}, "", "disable" + unspecified, 1},
			{{"markActive"}, "", "markActive" + unspecified, 1},
			{{"isEnabled"}, "false\n", "", 0},
			{{"getAppStatus"}, "", "", 103},
		});
	};

	ASSERT_EQ(symlink(real.c_str(), stateDir.c_str()), 0);
	std::string link = stateDir;
	for (const char *spelling : {"", "/", "/.", "//./"}) {
		stateDir = link + spelling;
		expectRefused(("symbolic link, as " + stateDir).c_str());
	}
	stateDir = link;
	RunSpec debug;
	debug.env = {"CORVANE_SIM_DEBUG=1"};
	expectSteps({{{"enable"}, "",
		"corvane-sim: enable: " + link + ": refused: the state directory is a symbolic link\nenable" + unspecified, 1}},
		debug);
	EXPECT_NE(access((real + "/state").c_str(), F_OK), 0) << "written through the link";
	ASSERT_EQ(unlink(stateDir.c_str()), 0);

	ASSERT_EQ(mkdir(stateDir.c_str(), 0700), 0);
	ASSERT_EQ(chmod(stateDir.c_str(), 0777), 0);
	expectRefused("writable by everyone");
	ASSERT_EQ(chmod(stateDir.c_str(), 0770), 0);
	expectRefused("writable by the group");
	EXPECT_NE(access((stateDir + "/state").c_str(), F_OK), 0);
	ASSERT_EQ(chmod(stateDir.c_str(), 0755), 0);
	expectSteps({{{"enable"}, "", "", 0}});
	ASSERT_EQ(rmdir((stateDir + "/lock").c_str()) == 0 || unlink((stateDir + "/lock").c_str()) == 0, true);
	unlink(stateFile().c_str());
	ASSERT_EQ(rmdir(stateDir.c_str()), 0);

	writeFile(stateDir, "not a directory\n");
	expectRefused("a plain file");
	ASSERT_EQ(unlink(stateDir.c_str()), 0);

	if (geteuid() == 0) {
		ASSERT_EQ(mkdir(stateDir.c_str(), 0700), 0);
		ASSERT_EQ(chown(stateDir.c_str(), 65534, 65534), 0);
		expectRefused("owned by another user");
		ASSERT_EQ(chown(stateDir.c_str(), 0, 0), 0);
	}
}

TEST_F(SimulatedPlatform, MissingParentIsAnErrorForChangesOnly)
{
	stateDir = root + "/missing/state";
	expectSteps({
		{{"enable"}, "", "enable" + unspecified, 1},
		{{"isEnabled"}, "false\n", "", 0},
		{{"getAppStatus"}, "gray\n", "", 0},
	});
}

// corvane-sim, beside the tool, on the same state.
class CorvaneSim : public SimulatedPlatform {
protected:
	void SetUp() override
	{
		SimulatedPlatform::SetUp();
		if (windowsBuild())
			GTEST_SKIP() << "corvane-sim runs here on Linux only";
	}

	RunResult sim(std::vector<std::string> args)
	{
		RunSpec setup;
		setup.args = std::move(args);
		setup.env = {"CORVANE_SIM_STATE_DIR=" + stateDir};
		return runProgram(PULSEWARDEN_BUILT_SIM, setup);
	}
};

TEST_F(CorvaneSim, AnswersInTheOperationsPlaceWithNoEffect)
{
	ASSERT_EQ(run({"enable"}).status, 0);
	for (const char *answer : {"enable 2", "disable 4", "markActive 256", "postAppState -1", "isEnabled 128",
		     "getAppStatus purple"}) {
		std::string text = answer;
		size_t space = text.find(' ');
		ASSERT_EQ(sim({"answer", text.substr(0, space), text.substr(space + 1)}).status, 0) << answer;
	}
	expectSteps({
		{{"enable"}, "", "enable: pulsewarden must be run in a Corvane Virtual Machine\n", 2},
		{{"disable"}, "", "disable: Application monitoring is not supported\n", 4},
		{{"markActive"}, "", "markActive: Unknown error (256) occurred\n", 1},
		{{"postAppState", "appStateNeedReset"}, "", "postAppState: Unknown error (-1) occurred\n", 255},
		{{"isEnabled"}, "true\n", "", 128},
		{{"getAppStatus"}, "purple\n", "", 3},
	});
	EXPECT_EQ(sim({"status"}).out, "enabled: yes\nwindow: 30\nheartbeat: none\nposted: none\nstatus: purple\n"
		"answer enable: 2\nanswer disable: 4\nanswer markActive: 256\nanswer isEnabled: 128\n"
		"answer getAppStatus: purple\nanswer postAppState: -1\n");
	ASSERT_EQ(sim({"answer", "getAppStatus", "null"}).status, 0);
	expectSteps({{{"getAppStatus"}, "", "", 103}});
	for (const char *op : {"enable", "disable", "markActive", "postAppState", "isEnabled", "getAppStatus"})
		ASSERT_EQ(sim({"answer", op, "normal"}).status, 0) << op;
	expectSteps({
		{{"markActive"}, "", "", 0},
		{{"getAppStatus"}, "green\n", "", 1},
	});

	// Usage errors: status 2, and nothing changes.
	for (std::vector<std::string> misuse : {std::vector<std::string>{}, {"answer", "isEnabled", "256"},
		     {"answer", "reboot", "1"}, {"answer", "markActive", "1.5"}, {"window", "0"}, {"window", "nan"},
		     {"status", "now"}}) {
		RunResult r = sim(misuse);
		EXPECT_EQ(r.status, 2);
		EXPECT_NE(r.err.find("Usage: corvane-sim "), std::string::npos);
	}
	// Said why, not just refused.
	EXPECT_NE(sim({"window", "0"}).err.find("\"0\" must be more than 0"), std::string::npos);
	EXPECT_NE(sim({"window", "1000000001"}).err.find("is more than a billion seconds"), std::string::npos);
	EXPECT_NE(sim({"window", "0.0000000001"}).err.find("has more than nine decimals"), std::string::npos);
	ASSERT_EQ(sim({"window", "0.5"}).status, 0);
	EXPECT_NE(sim({"status"}).out.find("window: 0.5\n"), std::string::npos);
	ASSERT_EQ(sim({"reset"}).status, 0);
	EXPECT_EQ(sim({"status"}).out, "enabled: no\nwindow: 30\nheartbeat: none\nposted: none\nstatus: gray\n");
}

TEST_F(CorvaneSim, FollowSaysEachChangeOfStatusAsItHappens)
{
	RunSpec setup;
	setup.args = {"follow"};
	setup.env = {"CORVANE_SIM_STATE_DIR=" + stateDir};
	setup.timeoutSeconds = 20;
	Session follow;
	ASSERT_TRUE(follow.start(PULSEWARDEN_BUILT_SIM, setup));
	ASSERT_TRUE(follow.waitForOutput(" gray: monitoring is off\n"));
	RunSpec half;
	half.env = {"CORVANE_SIM_HEARTBEAT_TIMEOUT=0.5"};
	expectSteps({{{"enable"}, "", "", 0}}, half);
	ASSERT_TRUE(follow.waitForOutput(" gray: no heartbeat since monitoring was switched on\n"));
	expectSteps({{{"markActive"}, "", "", 0}});
	ASSERT_TRUE(follow.waitForOutput(" green\n"));
	// By itself, once the window has passed.
	ASSERT_TRUE(follow.waitForOutput(" s\n"));
	// One answered word after another: each is a change.
	ASSERT_EQ(sim({"answer", "getAppStatus", "purple"}).status, 0);
	ASSERT_TRUE(follow.waitForOutput(" purple: answered by corvane-sim answer getAppStatus\n"));
	ASSERT_EQ(sim({"answer", "getAppStatus", "red"}).status, 0);
	ASSERT_TRUE(follow.waitForOutput(" red: answered by corvane-sim answer getAppStatus\n"));
	kill(follow.pid, SIGTERM);
	RunResult r = follow.finish();
	std::vector<std::string> lines;
	for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1)
		lines.push_back(r.out.substr(at + 24, end - at - 24));  // past the time
	ASSERT_EQ(lines.size(), 6u) << r.out;
	EXPECT_EQ(lines[3].rfind("red: no heartbeat for 0.5", 0), 0u) << lines[3];
}

TEST_F(CorvaneSim, StatusWhereNoStateCouldEverBeSavedFails)
{
	stateDir = root + "/missing/state";
	RunResult r = sim({"status"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.out, "");
	EXPECT_EQ(r.err, "corvane-sim: " + stateDir + ": cannot create the state directory: No such file or directory\n");
}

// File modes mean nothing to root: these tests run the tool as "nobody",
// when the tests themselves run as root (as in CI).
class AsAnotherUser : public SimulatedPlatform {
protected:
	void SetUp() override
	{
		SimulatedPlatform::SetUp();
		if (windowsBuild())
			GTEST_SKIP() << "Linux users and modes";
		if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
			GTEST_SKIP() << "needs root to run the tool as another user";
		if (emulatedBuild())
			GTEST_SKIP() << "the tool runs here under its emulator only";
		ASSERT_EQ(chown(root.c_str(), 65534, 65534), 0);
		// The build may sit where others cannot go (under /root, in CI):
		// nobody gets copies of the tool and the library.
		tool = root + "/bin";
		ASSERT_EQ(mkdir(tool.c_str(), 0755), 0);
		copyExecutable(toolPath(), tool + "/pulsewarden");
		copyExecutable(PULSEWARDEN_BUILT_LIBRARY, tool + "/libcorvane-pulsewarden.so.1");
		if (asNobody("isEnabled").status == 126)
			GTEST_SKIP() << "the temporary directory is out of reach of other users";
	}

	static void copyExecutable(const std::string &from, const std::string &to)
	{
		writeFile(to, readFile(from));
		ASSERT_EQ(chmod(to.c_str(), 0755), 0);
	}

	RunResult asNobody(const char *command, const char *umask = "022")
	{
		RunSpec setup;
		setup.args = {"--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c",
			std::string("umask ") + umask + "; exec \"$0\" \"$@\"", tool + "/pulsewarden", command};
		setup.env = {"CORVANE_SIM_STATE_DIR=" + stateDir, "LD_LIBRARY_PATH=" + tool};
		return runProgram("/usr/bin/setpriv", setup);
	}

	std::string tool;
};

TEST_F(AsAnotherUser, StrictUmaskLeavesTheStateUsable)
{
	for (const char *umask : {"0377", "0477", "0777"}) {
		SCOPED_TRACE(umask);
		removeTree(stateDir);
		EXPECT_EQ(asNobody("enable", umask).status, 0);
		EXPECT_EQ(asNobody("markActive", umask).status, 0) << "a second change must still get the lock";
		EXPECT_EQ(asNobody("getAppStatus").out, "green\n") << "and so must a reader later";
		struct stat st;
		ASSERT_EQ(stat(stateDir.c_str(), &st), 0);
		EXPECT_EQ(st.st_mode & 07777, 0700u) << "created 0700 whatever the umask";
		ASSERT_EQ(stat(stateFile().c_str(), &st), 0);
		EXPECT_EQ(st.st_mode & 07777, 0600u);
	}
}

TEST_F(AsAnotherUser, UnreadableStateFailsUntilReplaced)
{
	ASSERT_EQ(asNobody("enable").status, 0);
	ASSERT_EQ(chmod(stateFile().c_str(), 0), 0);
	EXPECT_EQ(asNobody("isEnabled").out, "false\n");
	EXPECT_EQ(asNobody("getAppStatus").status, 103);
	EXPECT_EQ(asNobody("markActive").status, 1);
	EXPECT_EQ(asNobody("enable").status, 0);
	EXPECT_EQ(asNobody("isEnabled").status, 1);
}

TEST_F(SimulatedPlatform, EveryCommandKeepsItsOutcomeWhateverTheStreams)
{
	struct Condition {
		const char *name;
		Stream in, out, err;
	};
	const Condition conditions[] = {
		{"stdin closed", Stream::closed, Stream::captured, Stream::captured},
		{"stdout closed", Stream::captured, Stream::closed, Stream::captured},
		{"stderr closed", Stream::captured, Stream::captured, Stream::closed},
		{"all closed", Stream::closed, Stream::closed, Stream::closed},
		{"stdout full", Stream::captured, Stream::devFull, Stream::captured},
		{"stderr full", Stream::captured, Stream::captured, Stream::devFull},
		{"stdout reader gone", Stream::captured, Stream::brokenPipe, Stream::captured},
		{"stderr reader gone", Stream::captured, Stream::captured, Stream::brokenPipe},
	};
	struct Command {
		std::vector<std::string> args;
		int status;
	};
	const Command commands[] = {
		{{"markActive"}, 3},
		{{"enable"}, 0},
		{{"markActive"}, 0},
		{{"postAppState", "appStateOk"}, 0},
		{{"postAppState", "junk"}, 1},
		{{"isEnabled"}, 1},
		{{"getAppStatus"}, 1},
		{{"enable", "disable"}, 100},
		{{"postAppState", "appStateNeedReset"}, 0},
		{{"getAppStatus"}, 2},
		{{"disable"}, 0},
		{{"isEnabled"}, 0},
		{{"getAppStatus"}, 0},
	};
	for (const Condition &c : conditions) {
		SCOPED_TRACE(c.name);
		removeTree(stateDir);
		RunSpec setup;
		setup.in = c.in;
		setup.out = c.out;
		setup.err = c.err;
		setup.timeoutSeconds = 10;
		for (const Command &command : commands) {
			SCOPED_TRACE(command.args[0]);
			RunResult r = run(command.args, setup);
			EXPECT_FALSE(r.timedOut);
			EXPECT_EQ(r.status, command.status);
		}
		// Only the platform's own words are in its state.
		EXPECT_EQ(readFile(stateFile()),
			"corvane-sim-state 2\nenabled 0\nwindow 30\nheartbeat none\nposted none\n");
	}
}

TEST_F(SimulatedPlatform, AgentBehindClosedOrFullStreams)
{
	for (Stream out : {Stream::closed, Stream::devFull}) {
		RunSpec setup;
		setup.out = out;
		setup.input = "e\nm\np\nq\n";
		EXPECT_EQ(run({"runAsAgent"}, setup).status, 0);
		expectSteps({{{"getAppStatus"}, "red\n", "", 2}});
		setup.input = "d\n";
		EXPECT_EQ(run({"runAsAgent"}, setup).status, 0) << "end of input";
		expectSteps({{{"isEnabled"}, "false\n", "", 0}});
	}
	RunSpec noInput;
	noInput.in = Stream::closed;
	EXPECT_EQ(run({"runAsAgent"}, noInput).status, 0);
}

TEST_F(SimulatedPlatform, AgentEndsBySigpipeWhenItsReaderHasGone)
{
	if (windowsBuild())
		GTEST_SKIP() << "Windows has no SIGPIPE";
	for (bool ignoredByParent : {false, true}) {
		SCOPED_TRACE(ignoredByParent ? "SIGPIPE ignored by the parent" : "SIGPIPE as usual");
		RunSpec setup;
		setup.args = {"runAsAgent"};
		setup.env = {"CORVANE_SIM_STATE_DIR=" + stateDir};
		setup.out = Stream::brokenPipe;
		setup.sigpipeIgnored = ignoredByParent;
		setup.timeoutSeconds = 10;
		// Input stays open: the agent must end on its own, at its first menu.
		Session agent;
		ASSERT_TRUE(startTool(&agent, setup));
		int status;
		ASSERT_EQ(waitpid(agent.pid, &status, 0), agent.pid);
		agent.reaped = true;
		EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE);
		agent.closeInput();
		close(agent.fromErr);
		agent.fromErr = -1;
	}
}

} // namespace
