/*
 * The floor for the agent: the least a C loop can do to print the same
 * dialogue for the same piped commands and make the same library calls.
 * It does not flush for a person at a terminal, nor keep messages in order
 * with stdout, nor handle a carriage return: only the cost floor.
 */
#include <corvane-pulsewarden.h>

#include <stdio.h>

static const char menu[] = "Please choose an action:\nenable(e)\nmarkactive(m)\nisenabled(i)\n"
	"getappstatus(g)\npostappstateNeedReset(p)\npostappstateOk(o)\ndisable(d)\n"
	"toggle silent output mode(s)\nquit program(q)\n\n";

static void report(int letter, TendwellResult result)
{
	if (result == TENDWELL_ERR_NOT_ENABLED)
		fprintf(stderr, "%c: Application monitoring is not enabled\n", letter);
}

int main(void)
{
	int silent = 0;
	for (;;) {
		fputs(menu, stdout);
		int c = getchar_unlocked(), letter = '\n';
		if (c == EOF)
			return 0;
		for (; c != EOF && c != '\n'; c = getchar_unlocked())
			letter = c;
		printf("Parsing command %c\n", letter);
		switch (letter) {
		case 'e': fputs("Enabling app monitoring\n", stdout); report(letter, Tendwell_Enable()); break;
		case 'd': fputs("Disabling app monitoring\n", stdout); report(letter, Tendwell_Disable()); break;
		case 'm': fputs("Marking active by sending a heartbeat\n", stdout); report(letter, Tendwell_MarkActive()); break;
		case 'i':
			fputs("Checking whether app monitoring is enabled or not\n", stdout);
			if (Tendwell_IsEnabled() && !silent)
				fputs("true\n", stdout);
			break;
		case 'g': {
			fputs("Getting application status\n", stdout);
			char *status = Tendwell_GetAppStatus();
			if (status && !silent)
				printf("%s\n", status);
			Tendwell_Free(status);
			break;
		}
		case 'p': fputs("Posting application state appStateNeedReset\n", stdout); report(letter, Tendwell_PostAppState("appStateNeedReset")); break;
		case 'o': fputs("Posting application state appStateOk\n", stdout); report(letter, Tendwell_PostAppState("appStateOk")); break;
		case 's': silent = !silent; fputs(silent ? "Silenced the outputs\n" : "Outputs are verbose(non-silent)\n", stdout); break;
		case 'q': fputs("Quitting program\n", stdout); return 0;
		default: printf("Command not recognized: %c\n", letter); break;
		}
	}
}
