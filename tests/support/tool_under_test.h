// The binary under test and the libraries it can be run against. The
// binary comes from the build unless PULSEWARDEN_BIN names another one.
#pragma once

#include "run_program.h"

#include <optional>
#include <string>
#include <vector>

std::string toolPath();

// The tool as runAgainstDouble runs it (on Windows, a copy beside the
// double's DLL).
std::string doubleToolPath();

// The tool run as a user runs it, behind PULSEWARDEN_WRAPPER when that
// names a command to run it under (valgrind, say).
RunResult runTool(RunSpec setup);
bool startTool(Session *session, RunSpec setup, const std::string &tool = toolPath());
RunResult finishTool(Session *session);

// A wrapper runs the tool under its own name: tests of argv[0] skip then.
bool toolIsWrapped();

// A build for another processor, run under its emulator: PULSEWARDEN_EMULATOR
// names a qemu-user command (qemu-aarch64 -L /usr/aarch64-linux-gnu), and
// PULSEWARDEN_DOUBLE_DIR the double built for that processor. Tests that
// start the tool other than through runTool skip then.
bool emulatedBuild();

// Where the double's library is, as LD_LIBRARY_PATH or LD_PRELOAD wants it.
std::string doubleDir();

// The Windows build, run under Wine: PULSEWARDEN_WINDOWS_RUNNER names the
// program that runs it and reports its whole exit status, PULSEWARDEN_BIN
// the tool beside the simulated platform's DLL, PULSEWARDEN_DOUBLE_BIN the
// tool beside the double's.
bool windowsBuild();

// Text as the tool writes it: a Windows program's text mode ends its lines
// with CR LF.
std::string asWritten(const std::string &text);

// The exit status a result reaches a script with: the POSIX one, or on
// Windows the whole code.
int byBuild(int posixStatus, int windowsStatus);

// How the test double answers (see tests/double).
struct DoubleScript {
	std::string results = "0";          // codes, comma-separated, in turn
	std::string enabled = "0";          // isEnabled's byte
	std::optional<std::string> status;  // nullopt: a null status
};

struct DoubleRun {
	RunResult run;
	std::vector<std::string> calls;     // the double's log, a line each
};

// Scripts for the double: result codes in turn, isEnabled's byte, a status.
DoubleScript answering(const std::string &results);
DoubleScript enabledByte(const std::string &flag);
DoubleScript status(const std::string &word);

// Runs the tool against the double, in a directory of its own.
DoubleRun runAgainstDouble(RunSpec setup, const DoubleScript &script);

// Checks a run that ended by itself: its output, status and calls.
void expectRun(const DoubleRun &r, const std::string &out, const std::string &err, int status,
	const std::vector<std::string> &calls);

// The usage line for an invocation name.
std::string usageLine(const std::string &invocationName);
