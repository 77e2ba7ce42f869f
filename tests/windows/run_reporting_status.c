/*
 * Runs a Windows program and writes its whole 32-bit exit status, as a
 * signed number, to the file PULSEWARDEN_STATUS_FILE names: Wine hands only
 * the low 8 bits of a status on to Linux.
 *   run_reporting_status PROGRAM ARGV0 [ARGUMENT...]
 * ARGV0 is the name the program is to see as its own. The standard streams
 * are passed on as they are, but those that PULSEWARDEN_CLOSED_STREAMS
 * lists (0, 1, 2) are passed closed: Wine itself cannot start with its own
 * descriptors 0 to 2 closed, so a test closes them here instead.
 */
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Appends one argument, quoted the way the C runtime splits it again. */
static char *appendArgument(char *out, const char *arg)
{
	if (*arg && !strpbrk(arg, " \t\n\v\"")) {
		strcpy(out, arg);
		return out + strlen(arg);
	}
	*out++ = '"';
	for (const char *p = arg;; p++) {
		size_t backslashes = 0;
		while (*p == '\\') {
			backslashes++;
			p++;
		}
		/* Backslashes double only before a quote, the closing one included. */
		size_t times = *p == '"' || !*p ? 2 * backslashes : backslashes;
		memset(out, '\\', times);
		out += times;
		if (!*p)
			break;
		if (*p == '"')
			*out++ = '\\';
		*out++ = *p;
	}
	*out++ = '"';
	return out;
}

int main(int argc, char **argv)
{
	if (argc < 3)
		return 125;
	size_t size = 1;
	for (int i = 2; i < argc; i++)
		size += 2 * strlen(argv[i]) + 3;
	char *line = malloc(size);
	if (!line)
		return 125;
	char *end = line;
	for (int i = 2; i < argc; i++) {
		if (i > 2)
			*end++ = ' ';
		end = appendArgument(end, argv[i]);
	}
	*end = '\0';

	STARTUPINFOA startup = {0};
	startup.cb = sizeof startup;
	startup.dwFlags = STARTF_USESTDHANDLES;
	const char *closed = getenv("PULSEWARDEN_CLOSED_STREAMS");
	if (!closed)
		closed = "";
	startup.hStdInput = strchr(closed, '0') ? NULL : GetStdHandle(STD_INPUT_HANDLE);
	startup.hStdOutput = strchr(closed, '1') ? NULL : GetStdHandle(STD_OUTPUT_HANDLE);
	startup.hStdError = strchr(closed, '2') ? NULL : GetStdHandle(STD_ERROR_HANDLE);
	PROCESS_INFORMATION process;
	/* Wine, with many processes starting at once, now and then fails to
	   start one: tried again, as the program has not run. */
	int attempt = 0;
	while (!CreateProcessA(argv[1], line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
		if (++attempt == 5) {
			fprintf(stderr, "run_reporting_status: cannot start %s: error %lu\n", argv[1],
				(unsigned long)GetLastError());
			return 126;
		}
		Sleep(50);
	}
	WaitForSingleObject(process.hProcess, INFINITE);
	DWORD code = 0;
	GetExitCodeProcess(process.hProcess, &code);

	const char *report = getenv("PULSEWARDEN_STATUS_FILE");
	FILE *file = report ? fopen(report, "w") : NULL;
	if (file) {
		fprintf(file, "%ld\n", (long)(int32_t)code);
		fclose(file);
	}
	return (int)code;
}
