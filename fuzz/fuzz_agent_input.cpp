// Fuzzes the agent with the input as its standard input, and the test
// double in the library's place. The commands read are checked against a
// plain model of the line rules (last character before the newline; a
// carriage return right before it is not part of the line), then the whole
// dialogue runs until "q" or the end of input.
#include "agent.h"
#include "line_input.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

static std::vector<int> modelCommands(const std::string &input)
{
	std::vector<int> commands;
	size_t start = 0;
	while (start < input.size()) {
		size_t end = input.find('\n', start);
		bool ended = end != std::string::npos;
		std::string line = input.substr(start, (ended ? end : input.size()) - start);
		if (ended && !line.empty() && line.back() == '\r')
			line.pop_back();
		commands.push_back(line.empty() ? '\n' : static_cast<unsigned char>(line.back()));
		start = ended ? end + 1 : input.size();
	}
	return commands;
}

static LineInput input;

// The input as a file to read from, at its start.
static int inputFile(const uint8_t *data, size_t size)
{
	int fd = memfd_create("agent-input", MFD_CLOEXEC);
	if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0)
		abort();
	return fd;
}

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/)
{
	setenv("TENDWELL_DOUBLE_STATUS", "green", 1);
	setenv("TENDWELL_DOUBLE_RESULTS", "0,0,0,3,-1,256,1", 1);
	unsetenv("TENDWELL_DOUBLE_LOG");
	// The dialogue is not the point here; its messages on stderr are left
	// to the fuzzer's -close_fd_mask, which keeps the fuzzer's own report.
	if (!freopen("/dev/null", "w", stdout))
		abort();
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	int fd = inputFile(data, size);
	input = LineInput{fd, false, 0, 0, 0, {}};
	std::vector<int> commands;
	for (int c; (c = readCommandLine(&input)) != endOfInput;)
		commands.push_back(c);
	if (commands != modelCommands(std::string(reinterpret_cast<const char *>(data), size)))
		abort();

	lseek(fd, 0, SEEK_SET);
	input = LineInput{fd, false, 0, 0, 0, {}};
	while (agentStep(&input))
		;
	fflush(stdout);
	close(fd);
	return 0;
}
