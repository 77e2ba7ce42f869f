// Runs a program as a user or a script would: arguments, standard input,
// streams captured apart or together, closed or full, and the exit status.
// Every run is bounded in time; a run that overstays is killed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// captured: a pipe to the test; brokenPipe: a pipe whose reader has gone;
// capturedNonBlocking: a pipe as captured, its reading end non-blocking;
// directory: a directory, which reads fail on.
enum class Stream {
	captured, capturedNonBlocking, closed, devNull, devFull, brokenPipe, intoStdout, directory
};

struct RunSpec {
	std::vector<std::string> args;     // after the invocation name
	const char *invocationName = nullptr; // argv[0]; default: the path
	std::string input;
	Stream in = Stream::captured;      // captured: fed from `input`
	Stream out = Stream::captured;
	Stream err = Stream::captured;     // intoStdout: one pipe for both
	std::vector<std::string> env;      // NAME=value, on top of a clean set
	int timeoutSeconds = 30;
	bool sigpipeIgnored = false;       // as a parent that ignores it leaves it
};

struct RunResult {
	std::string out;
	std::string err;
	int status = -1;         // exit status, or 128 + signal
	int signal = 0;          // the signal that ended it, if any
	bool timedOut = false;
};

RunResult runProgram(const std::string &path, const RunSpec &setup);

// A program driven as a dialogue: write some input, wait for the reply,
// write more. The deadline of the setup bounds the whole dialogue.
struct Session {
	bool start(const std::string &path, const RunSpec &setup);
	void send(const std::string &text);
	// True once stdout ends with `ending`; false if it never does.
	bool waitForOutput(const std::string &ending);
	// True once stdout has `text` past where the last text waited for was
	// found, whatever else comes around it; false if it never does.
	bool waitForText(const std::string &text);
	void closeInput();
	RunResult finish();   // closes the input, drains, waits for the end
	// A dialogue left unfinished (a test that failed half way) ends with
	// it: nothing it started outlives the test.
	~Session();

	RunResult result;     // out and err so far
	int pid = -1;
	int toChild = -1;
	int fromOut = -1;
	int fromErr = -1;
	int64_t deadlineMs = 0;
	size_t searchedTo = 0;    // where waitForText looks from
	std::string statusFile;   // where a runner reports the whole status
	bool reaped = false;
};

// The environment a run starts from: the caller's, less every variable
// that steers the tool's library, so that the outer shell cannot leak in.
std::vector<std::string> cleanEnvironment();

// A fresh directory under the test temporary directory, removed by the test
// that made it through removeTree().
std::string makeTempDir(const char *tag);
void removeTree(const std::string &path);

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &content);
