/*
 * The floor for a one-shot run: the least a C program can do to make the
 * same library call and print the same text as pulsewarden, for the four
 * cases the benchmark measures.
 */
#include <corvane-pulsewarden.h>

#include <stdio.h>
#include <string.h>

int main(int argc, char **argv)
{
	const char *word = argc == 2 ? argv[1] : "";
	if (strcmp(word, "getAppStatus") == 0) {
		char *status = Tendwell_GetAppStatus();
		if (!status)
			return 103;
		printf("%s\n", status);
		int value = strcmp(status, "gray") == 0 ? 0 : strcmp(status, "green") == 0 ? 1
			: strcmp(status, "red") == 0 ? 2 : 3;
		Tendwell_Free(status);
		return value;
	}
	if (strcmp(word, "isEnabled") == 0) {
		signed char flag = (signed char)Tendwell_IsEnabled();
		printf("%s\n", flag ? "true" : "false");
		return flag;
	}
	if (strcmp(word, "enable") == 0) {
		TendwellResult result = Tendwell_Enable();
		if (result == TENDWELL_ERR_NOT_ENABLED)
			fprintf(stderr, "enable: Application monitoring is not enabled\n");
		return result;
	}
	fprintf(stderr, "Usage: %s {enable | disable | markActive | isEnabled | getAppStatus | "
		"postAppState [appStateOk|appStateNeedReset]}\n", argv[0]);
	return 100;
}
