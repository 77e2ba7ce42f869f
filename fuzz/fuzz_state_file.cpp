// Fuzzes the simulated platform's reading of its state file: the input is
// the file. A state that parses must write back byte for byte (or, in the
// first version of the format, into one that does); the library's answers
// must follow from whether it parses: enabled only from a whole state that
// says so or answers so, a status only from a whole state, the answered
// word when one is set.
#include "sim_platform.h"
#include "sim_state.h"

#include <corvane-pulsewarden.h>

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>

static std::string stateDir;
static std::string stateFile;

// The run leaves nothing behind: the state directory goes with whatever
// the library put in it.
static void removeStateDir()
{
	if (DIR *dir = opendir(stateDir.c_str())) {
		while (struct dirent *entry = readdir(dir))
			if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
				unlink((stateDir + "/" + entry->d_name).c_str());
		closedir(dir);
	}
	rmdir(stateDir.c_str());
}

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/)
{
	const char *tmp = getenv("TMPDIR");
	stateDir = std::string(tmp && *tmp ? tmp : "/tmp") + "/pulsewarden-fuzz-XXXXXX";
	if (!mkdtemp(stateDir.data()))
		abort();
	atexit(removeStateDir);
	setenv("CORVANE_SIM_STATE_DIR", stateDir.c_str(), 1);
	stateFile = stateDir + "/state";
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const char *text = reinterpret_cast<const char *>(data);
	SimState state;
	bool whole = parseSimState(text, size, &state);
	if (whole) {
		// The current version writes back byte for byte; the first is
		// written in the current one, which then does.
		char again[stateTextMax];
		size_t length = formatSimState(&state, again);
		SimState reread;
		char third[stateTextMax];
		bool current = size > 18 && memcmp(text, "corvane-sim-state 2", 19) == 0;
		if (current ? length != size || memcmp(again, text, size) != 0
			: !parseSimState(again, length, &reread) || formatSimState(&reread, third) != length
				|| memcmp(third, again, length) != 0)
			abort();
		const char *status = statusWordOf(statusReasonOf(&state, "boot", 1));
		if (strcmp(status, "gray") != 0 && strcmp(status, "green") != 0 && strcmp(status, "red") != 0)
			abort();
	}

	int fd = open(stateFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
	if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || close(fd) != 0)
		abort();
	const Answer &enabled = state.answers[opIsEnabled];
	if (Tendwell_IsEnabled() != (whole ? (enabled.set ? enabled.value : state.enabled) : 0))
		abort();
	const Answer &answered = state.answers[opGetAppStatus];
	char *status = Tendwell_GetAppStatus();
	if ((status != nullptr) != (whole && !(answered.set && answered.null)))
		abort();
	if (status && whole && answered.set && strcmp(status, answered.word) != 0)
		abort();
	Tendwell_Free(status);
	return 0;
}
