// Fuzzes the scan of the command line: the input, split at NUL bytes, is
// the argument list. The scan's verdict is checked against a plain model
// of the rules: options anywhere, one command word, postAppState's operand
// taken whatever it reads, and after "watch" (or "service", "status")
// nothing, all being its own.
#include "command_line.h"
#include "console.h"
#include "core/watch_options.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static bool isOption(const std::string &arg)
{
	return arg == "-s" || arg == "--silent";
}

static int commandOf(const std::string &word)
{
	static const char *const words[] = {"enable", "disable", "markActive", "isEnabled",
		"getAppStatus", "postAppState", "runAsAgent", "watch", "service", "status", "help"};
	static const int codes[] = {commandEnable, commandDisable, commandMarkActive,
		commandIsEnabled, commandGetAppStatus, commandPostAppState, commandRunAsAgent, commandWatch,
		commandService, commandStatus, commandHelp};
	for (int i = 0; i < 11; i++)
		if (word == words[i])
			return codes[i];
	return commandNone;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	std::vector<std::string> args = {"pulsewarden"};
	std::string input(reinterpret_cast<const char *>(data), size);
	for (size_t start = 0; start <= input.size();) {
		size_t end = input.find('\0', start);
		if (end == std::string::npos)
			end = input.size();
		args.push_back(input.substr(start, end - start));
		start = end + 1;
	}
	if (size == 0)
		args.pop_back();

	// The model.
	int command = commandNone;
	size_t wordAt = 0;
	size_t operandAt = 0;
	bool usable = true;
	bool silent = false;
	for (size_t i = 1; i < args.size() && usable; i++) {
		if (isOption(args[i])) {
			silent = true;
		} else if (command != commandNone || commandOf(args[i]) == commandNone) {
			usable = false;
		} else {
			command = commandOf(args[i]);
			wordAt = i;
			if (command == commandPostAppState && (operandAt = ++i) == args.size())
				usable = false;
			if (command == commandWatch || command == commandService || command == commandStatus)
				break;  // the rest is its own
		}
	}
	usable = usable && command != commandNone;

	std::vector<char *> argv;
	argv.reserve(args.size() + 1);
	for (std::string &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	CommandLine found = scanCommandLine(static_cast<int>(args.size()), argv.data());

	if (found.usable != usable)
		abort();
	if (found.usable) {
		if (found.command != command || found.word != argv[wordAt] || found.silent != silent)
			abort();
		if (command == commandPostAppState && found.operand != argv[operandAt])
			abort();
		if ((command == commandWatch || command == commandService || command == commandStatus)
		    && (found.watchArgs != argv.data() + wordAt + 1
		        || found.watchArgCount != static_cast<int>(args.size() - wordAt - 1)))
			abort();
		// What watch accepts is a schedule it can keep.
		WatchOptions o;
		char why[512] = "";
		bool quiet = false;
		WatchParse parsed = command == commandWatch
			? parseWatchOptions(found.watchArgCount, found.watchArgs, &o, &quiet, why, sizeof why) : watchUnusable;
		if (command == commandWatch && parsed == watchUsable) {
			bool durations = o.intervalNs > 0 && o.timeoutNs > 0 && o.windowNs <= maxDurationNs
				&& o.startTimeoutNs >= 0 && o.startTimeoutNs <= maxDurationNs && o.maxAgeNs >= 0
				&& o.maxAgeNs <= maxDurationNs;
			// A process to watch, or else something to check: a program, probes, or both.
			bool checks = o.check != nullptr || o.probeCount > 0;
			bool probes = o.probeCount >= 0 && o.probeCount <= maxProbes;
			for (int i = 0; probes && i < o.probeCount; i++)
				probes = o.probes[i].target != nullptr;
			// Never one part twice; its files at full paths.
			for (int i = 0; probes && i < o.probeCount; i++) {
				char a[300];
				probeLabel(o.probes[i], a, sizeof a);
				for (int j = i + 1; probes && j < o.probeCount; j++) {
					char b[300];
					probeLabel(o.probes[j], b, sizeof b);
					probes = strcmp(a, b) != 0;
				}
			}
			// The files named once, to be checked or to find the watcher by,
			// may be named from here.
			bool once = o.checkConfig || o.reload || o.release;
			bool paths = (!o.metricsFile || o.metricsFile[0] == '/') && (!o.runtimeDir || o.runtimeDir[0] == '/')
				&& (!o.config || o.config[0] == '/' || once) && (!o.stateDir || o.stateDir[0] == '/');
			// Asking the running watcher names nothing else; with files, they
			// give the rest, and the whole is judged once they are read.
			// Only a watcher that owns monitoring holds it off.
			bool whole = (o.pid != 0) != checks && probes && o.fall >= 1 && o.rise >= 1
				&& o.intervalNs + (o.pid ? 0 : o.timeoutNs) < o.windowNs
				&& (o.maxResets <= 0 || (o.enable && !o.pid)) && o.maxResets <= 100;
			bool alone = o.reload || o.release;
			bool askedAlone = !alone || (!checks && o.pid == 0 && !o.metricsFile && !o.enable);
			if (!paths || !durations || !askedAlone || (!alone && !o.config && !whole))
				abort();
		} else if (command == commandWatch && parsed == watchUnusable && !why[0]) {
			abort();
		}
	}
	return 0;
}
