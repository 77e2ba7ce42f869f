// Failures injected into the simulated platform's system calls, one call at
// a time, with strace: a change is reported as done only when it was saved,
// a failed change leaves the old state as it was, and no temporary file is
// left behind.
#include "support/tool_under_test.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <unistd.h>

namespace {

const char strace[] = "/usr/bin/strace";
const char traced[] = "openat,read,write,close,newfstatat,fstat,flock,fsync,rename,renameat,"
	"renameat2,unlink,unlinkat,mkdir,fchmod,fcntl";

class FaultInjection : public testing::Test {
protected:
	void SetUp() override
	{
		if (access(strace, X_OK) != 0)
			GTEST_SKIP() << "strace is not installed";
		root = makeTempDir("inject");
		stateDir = root + "/state";
	}
	void TearDown() override { removeTree(root); }

	RunResult tool(std::vector<std::string> args)
	{
		RunSpec setup;
		setup.args = std::move(args);
		setup.env = {"CORVANE_SIM_STATE_DIR=" + stateDir};
		return runProgram(toolPath(), setup);
	}

	// The tool under strace; `inject` is strace's inject expression or empty.
	RunResult traced(const std::string &command, const std::string &inject, const std::string &log)
	{
		RunSpec setup;
		setup.args = {"-f", "-qq", "-o", log, "-e", std::string("trace=") + ::traced};
		if (!inject.empty())
			setup.args.insert(setup.args.end(), {"-e", "inject=" + inject});
		setup.args.push_back(toolPath());
		std::istringstream words(command);
		for (std::string word; words >> word;)
			setup.args.push_back(word);
		// LeakSanitizer cannot work under ptrace; a sanitized build would fail.
		setup.env = {"CORVANE_SIM_STATE_DIR=" + stateDir, "ASAN_OPTIONS=detect_leaks=0"};
		return runProgram(strace, setup);
	}

	std::string root, stateDir;
};

struct Change {
	std::vector<std::vector<std::string>> before;  // commands that set the old state
	std::string command;
	std::vector<std::string> check;                // shows whether it took effect
	std::string changed;                           // what `check` prints then
};

// For each system call the library makes, by name, the numbers of its
// calls (counted from the start of the process, as strace's when= counts).
std::map<std::string, std::vector<int>> libraryCalls(const std::string &trace, const std::string &stateDir)
{
	std::map<std::string, std::vector<int>> seen, calls;
	std::istringstream lines(trace);
	bool inLibrary = false;
	for (std::string line; std::getline(lines, line);) {
		// "PID  name(arguments) = result", the PID padded with spaces.
		size_t nameStart = line.find_first_not_of(' ', line.find(' '));
		size_t paren = line.find('(', nameStart);
		if (paren == std::string::npos || line.find("resumed>") != std::string::npos)
			continue;
		std::string name = line.substr(nameStart, paren - nameStart);
		int number = static_cast<int>(seen[name].size()) + 1;
		seen[name].push_back(number);
		// The library's work starts where it first names its directory.
		inLibrary = inLibrary || line.find('"' + stateDir + '"') != std::string::npos;
		if (inLibrary)
			calls[name].push_back(number);
	}
	return calls;
}

TEST_F(FaultInjection, NoChangeReportedDoneUnlessSaved)
{
	const Change changes[] = {
		{{{"enable"}}, "markActive", {"getAppStatus"}, "green\n"},
		{{{"enable"}, {"markActive"}}, "postAppState appStateNeedReset", {"getAppStatus"}, "red\n"},
		{{{"disable"}}, "enable", {"isEnabled"}, "true\n"},
		{{{"enable"}}, "disable", {"isEnabled"}, "false\n"},
	};
	int injected = 0, failedAsReported = 0, savedAsReported = 0;
	for (const Change &change : changes) {
		SCOPED_TRACE(change.command);
		auto setUp = [&] {
			removeTree(stateDir);
			for (const auto &command : change.before)
				ASSERT_EQ(tool(command).err, "");
		};
		setUp();
		std::string log = root + "/trace";
		ASSERT_EQ(traced(change.command, "", log).status, 0);
		std::string trace = readFile(log);
		auto calls = libraryCalls(trace, stateDir);
		ASSERT_FALSE(calls.empty());
		// Until the directory is synced, a power loss can undo the rename.
		ASSERT_NE(trace.find("rename"), std::string::npos);
		EXPECT_GT(trace.rfind("fsync("), trace.find("rename")) << "directory not synced after the rename";
		const int directorySync = calls["fsync"].back();

		for (const auto &[name, numbers] : calls) {
			for (int number : numbers) {
				SCOPED_TRACE(name + " call " + std::to_string(number));
				setUp();
				std::string old = readFile(stateDir + "/state");
				RunResult r = traced(change.command, name + ":error=EIO:when=" + std::to_string(number), log);
				if (readFile(log).find("(INJECTED)") == std::string::npos)
					continue;
				injected++;
				std::string now = readFile(stateDir + "/state");
				if (r.status == 0) {
					EXPECT_EQ(tool(change.check).out, change.changed) << "success reported, change not saved";
					savedAsReported++;
				} else {
					// Only a directory that cannot be synced leaves the new
					// state showing: it is not known to be on disk.
					EXPECT_EQ(r.status, 1);
					bool directoryUnsynced = name == "fsync" && number == directorySync;
					EXPECT_TRUE(now == old || directoryUnsynced) << "a failed change altered the state";
					failedAsReported++;
				}
				EXPECT_NE(access((stateDir + "/state.new").c_str(), F_OK), 0) << "temporary file left";
			}
		}
	}
	printf("%d failures injected: %d reported as failures with the old state kept, "
		"%d absorbed with the change saved\n", injected, failedAsReported, savedAsReported);
	EXPECT_GT(injected, 40);
}

} // namespace
