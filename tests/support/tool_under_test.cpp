#include "tool_under_test.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

std::string toolPath()
{
	const char *override = getenv("PULSEWARDEN_BIN");
	return override && *override ? override : PULSEWARDEN_BUILT_BIN;
}

bool toolIsWrapped()
{
	const char *wrapper = getenv("PULSEWARDEN_WRAPPER");
	return wrapper && *wrapper;
}

// The program to start for the tool, and the spec with the wrapper's words
// put before the tool's own arguments.
static std::string wrapped(RunSpec *spec)
{
	if (!toolIsWrapped())
		return toolPath();
	std::istringstream words(getenv("PULSEWARDEN_WRAPPER"));
	std::vector<std::string> args;
	for (std::string word; words >> word;)
		args.push_back(word);
	std::string program = args.front();
	args.erase(args.begin());
	args.push_back(toolPath());
	spec->args.insert(spec->args.begin(), args.begin(), args.end());
	spec->invocationName = nullptr;
	return program;
}

RunResult runTool(RunSpec spec)
{
	std::string program = wrapped(&spec);
	return runProgram(program, spec);
}

bool startTool(Session *session, RunSpec spec)
{
	std::string program = wrapped(&spec);
	return session->start(program, spec);
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
	EXPECT_EQ(r.run.out, out);
	EXPECT_EQ(r.run.err, err);
	EXPECT_EQ(r.run.status, status);
	EXPECT_EQ(r.calls, calls);
}

DoubleRun runAgainstDouble(RunSpec spec, const DoubleScript &script)
{
	std::string dir = makeTempDir("double");
	std::string log = dir + "/calls";
	spec.env.push_back("LD_LIBRARY_PATH=" TEST_DOUBLE_DIR);
	spec.env.push_back("TENDWELL_DOUBLE_LOG=" + log);
	spec.env.push_back("TENDWELL_DOUBLE_RESULTS=" + script.results);
	spec.env.push_back("TENDWELL_DOUBLE_ENABLED=" + script.enabled);
	if (script.status)
		spec.env.push_back("TENDWELL_DOUBLE_STATUS=" + *script.status);
	DoubleRun result;
	result.run = runTool(spec);
	result.calls = lines(readFile(log));
	removeTree(dir);
	return result;
}

std::string usageLine(const std::string &invocationName)
{
	return "Usage: " + invocationName + " {enable | disable | markActive | isEnabled | "
		"getAppStatus | postAppState [appStateOk|appStateNeedReset]}\n";
}
