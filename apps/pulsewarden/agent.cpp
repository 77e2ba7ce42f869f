// The agent keeps one process running for any number of heartbeats and state
// changes: it prints the menu, reads one line, performs its last character as
// a command letter, and starts over.
#include "agent.h"

#include "console.h"
#include "exit_status.h"
#include "line_input.h"
#include "platform.h"

#include <corvane-pulsewarden.h>

#include <cstring>

static void printMenu()
{
	printOut("Please choose an action:\n"
		"enable(e)\n"
		"markactive(m)\n"
		"isenabled(i)\n"
		"getappstatus(g)\n"
		"postappstateNeedReset(p)\n"
		"postappstateOk(o)\n"
		"disable(d)\n"
		"toggle silent output mode(s)\n"
		"quit program(q)\n"
		"\n");
}

static LineInput input = {0, false, 0, 0, 0, {}};
// Large enough that a script piping in a thousand commands costs a few writes.
static char outputBuffer[1 << 16];

// False for "q".
static bool perform(char letter)
{
	switch (letter) {
	case 'e':
		printOut("Enabling app monitoring\n");
		reportResultForLetter(letter, Tendwell_Enable());
		break;
	case 'd':
		printOut("Disabling app monitoring\n");
		reportResultForLetter(letter, Tendwell_Disable());
		break;
	case 'm':
		printOut("Marking active by sending a heartbeat\n");
		reportResultForLetter(letter, Tendwell_MarkActive());
		break;
	case 'i': {
		printOut("Checking whether app monitoring is enabled or not\n");
		bool enabled = Tendwell_IsEnabled() != 0;
		if (!silentMode)
			printOut("%s\n", enabled ? "true" : "false");
		break;
	}
	case 'g': {
		printOut("Getting application status\n");
		char *status = Tendwell_GetAppStatus();
		if (status) {
			if (!silentMode)
				printOut("%s\n", status);
			Tendwell_Free(status);
		}
		break;
	}
	case 'p':
		printOut("Posting application state appStateNeedReset\n");
		reportResultForLetter(letter, Tendwell_PostAppState(TENDWELL_APP_STATE_NEED_RESET));
		break;
	case 'o':
		printOut("Posting application state appStateOk\n");
		reportResultForLetter(letter, Tendwell_PostAppState(TENDWELL_APP_STATE_OK));
		break;
	case 's':
		silentMode = !silentMode;
		printOut(silentMode ? "Silenced the outputs\n" : "Outputs are verbose(non-silent)\n");
		break;
	case 'q':
		printOut("Quitting program\n");
		return false;
	default:
		printOut("Command not recognized: %c\n", letter);
		break;
	}
	return true;
}

bool agentStep(LineInput *in)
{
	printMenu();
	int command = readCommandLine(in);
	if (command == endOfInput)
		return false;
	printOut("Parsing command %c\n", command);
	return perform(static_cast<char>(command));
}

int runAgent(const char *word)
{
	// With nobody left to read the dialogue, end rather than go on
	// performing commands no one sees.
	endWithVanishedReader();
	setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);
	while (agentStep(&input))
		;
	// A supervisor must tell input that failed from a "q" or a real end.
	if (input.error) {
		printTo(stderr, "%s: Cannot read standard input: %s\n", word, strerror(input.error));
		return exitInputFailed;
	}
	return 0;
}
