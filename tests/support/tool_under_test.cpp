#include "tool_under_test.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

std::string toolPath()
{
	const char *override = getenv("PULSEWARDEN_BIN");
	return override && *override ? override : PULSEWARDEN_BUILT_BIN;
}

std::string doubleToolPath()
{
	const char *copy = getenv("PULSEWARDEN_DOUBLE_BIN");
	return copy && *copy ? copy : toolPath();
}

bool toolIsWrapped()
{
	const char *wrapper = getenv("PULSEWARDEN_WRAPPER");
	return wrapper && *wrapper;
}

bool emulatedBuild()
{
	const char *emulator = getenv("PULSEWARDEN_EMULATOR");
	return emulator && *emulator;
}

std::string doubleDir()
{
	const char *dir = getenv("PULSEWARDEN_DOUBLE_DIR");
	return dir && *dir ? dir : TEST_DOUBLE_DIR;
}

bool windowsBuild()
{
	const char *runner = getenv("PULSEWARDEN_WINDOWS_RUNNER");
	return runner && *runner;
}

std::string asWritten(const std::string &text)
{
	if (!windowsBuild())
		return text;
	std::string written;
	for (char c : text) {
		if (c == '\n')
			written += '\r';
		written += c;
	}
	return written;
}

int byBuild(int posixStatus, int windowsStatus)
{
	return windowsBuild() ? windowsStatus : posixStatus;
}

// The words of a command held in a variable, split at white space.
static std::vector<std::string> commandWords(const char *variable)
{
	std::vector<std::string> words;
	std::istringstream text(getenv(variable));
	for (std::string word; text >> word;)
		words.push_back(word);
	return words;
}

// The program to start for `tool`, with the setup's arguments behind the
// wrapper's, the emulator's or the Windows runner's own.
static std::string wrapped(const std::string &tool, RunSpec *setup, std::string *statusFile)
{
	std::vector<std::string> front;
	std::string name = setup->invocationName ? setup->invocationName : tool;
	if (windowsBuild()) {
		*statusFile = makeTempDir("status") + "/status";
		setup->env.push_back("PULSEWARDEN_STATUS_FILE=" + *statusFile);
		// Wine cannot start with its own descriptors 0 to 2 closed: the
		// runner closes the tool's streams instead.
		std::string closed;
		Stream *streams[3] = {&setup->in, &setup->out, &setup->err};
		for (int fd = 0; fd < 3; fd++) {
			if (*streams[fd] == Stream::closed) {
				closed += static_cast<char>('0' + fd);
				*streams[fd] = Stream::devNull;
			}
		}
		setup->env.push_back("PULSEWARDEN_CLOSED_STREAMS=" + closed);
		front = {"wine", getenv("PULSEWARDEN_WINDOWS_RUNNER"), tool, name};
	} else if (emulatedBuild()) {
		// The emulator gives the tool the name it is to see as its own.
		front = commandWords("PULSEWARDEN_EMULATOR");
		front.insert(front.end(), {"-0", name, tool});
	} else if (toolIsWrapped()) {
		front = commandWords("PULSEWARDEN_WRAPPER");
		front.push_back(tool);
	} else {
		return tool;
	}
	setup->args.insert(setup->args.begin(), front.begin() + 1, front.end());
	setup->invocationName = nullptr;
	return front.front();
}

// Under Wine the process status keeps 8 bits; the runner's file has it all.
static RunResult withReportedStatus(RunResult result, const std::string &statusFile)
{
	if (statusFile.empty())
		return result;
	std::string reported = readFile(statusFile);
	if (!reported.empty() && result.signal == 0)
		result.status = atoi(reported.c_str());
	removeTree(statusFile.substr(0, statusFile.rfind('/')));
	return result;
}

// Under load, Wine's launcher now and then fails to start the runner at
// all, saying so on stdout: nothing of the tool ran, no status was
// reported, and the run is made again, as the tool never saw it.
static bool launcherFailed(const RunResult &r, const std::string &statusFile)
{
	return !statusFile.empty() && readFile(statusFile).empty() && r.signal == 0 && !r.timedOut
		&& r.out.find("Application could not be started") != std::string::npos;
}

static RunResult runToolAt(const std::string &tool, const RunSpec &given)
{
	for (int attempt = 1;; attempt++) {
		RunSpec setup = given;
		std::string statusFile;
		std::string program = wrapped(tool, &setup, &statusFile);
		RunResult r = runProgram(program, setup);
		if (attempt == 3 || !launcherFailed(r, statusFile))
			return withReportedStatus(r, statusFile);
		removeTree(statusFile.substr(0, statusFile.rfind('/')));
	}
}

RunResult runTool(RunSpec setup)
{
	return runToolAt(toolPath(), setup);
}

bool startTool(Session *session, RunSpec setup, const std::string &tool)
{
	std::string program = wrapped(tool, &setup, &session->statusFile);
	return session->start(program, setup);
}

RunResult finishTool(Session *session)
{
	return withReportedStatus(session->finish(), session->statusFile);
}

static std::vector<std::string> lines(const std::string &text)
{
	std::vector<std::string> result;
	size_t start = 0, end;
	while ((end = text.find('\n', start)) != std::string::npos) {
		result.push_back(text.substr(start, end - start));
		start = end + 1;
	}
	return result;
}

DoubleScript answering(const std::string &results)
{
	DoubleScript script;
	script.results = results;
	return script;
}

DoubleScript enabledByte(const std::string &flag)
{
	DoubleScript script;
	script.enabled = flag;
	return script;
}

DoubleScript status(const std::string &word)
{
	DoubleScript script;
	script.status = word;
	return script;
}

void expectRun(const DoubleRun &r, const std::string &out, const std::string &err, int status,
	const std::vector<std::string> &calls)
{
	EXPECT_FALSE(r.run.timedOut);
	EXPECT_EQ(r.run.signal, 0);
	EXPECT_EQ(r.run.out, asWritten(out));
	EXPECT_EQ(r.run.err, asWritten(err));
	EXPECT_EQ(r.run.status, status);
	EXPECT_EQ(r.calls, calls);
}

DoubleRun runAgainstDouble(RunSpec setup, const DoubleScript &script)
{
	std::string dir = makeTempDir("double");
	std::string log = dir + "/calls";
	setup.env.push_back("LD_LIBRARY_PATH=" + doubleDir());
	setup.env.push_back("TENDWELL_DOUBLE_LOG=" + log);
	setup.env.push_back("TENDWELL_DOUBLE_RESULTS=" + script.results);
	setup.env.push_back("TENDWELL_DOUBLE_ENABLED=" + script.enabled);
	if (script.status)
		setup.env.push_back("TENDWELL_DOUBLE_STATUS=" + *script.status);
	DoubleRun result;
	result.run = runToolAt(doubleToolPath(), setup);
	result.calls = lines(readFile(log));
	removeTree(dir);
	return result;
}

std::string usageLine(const std::string &invocationName)
{
	return "Usage: " + invocationName + " {enable | disable | markActive | isEnabled | "
		"getAppStatus | postAppState [appStateOk|appStateNeedReset]}\n";
}
