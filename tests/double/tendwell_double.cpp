// A scripted stand-in for the monitoring library, for the tool's end-to-end
// tests. The test sets its answers through the environment and reads back a
// log of the calls made, one line each:
//   TENDWELL_DOUBLE_RESULTS  codes for enable, disable, markActive and
//                            postAppState, comma-separated, taken in turn;
//                            the last one repeats (default 0)
//   TENDWELL_DOUBLE_ENABLED  the byte isEnabled answers (default 0)
//   TENDWELL_DOUBLE_STATUS   the status string; unset: null
//   TENDWELL_DOUBLE_LOG      the file the calls are appended to
// Status strings are numbered #1, #2...; freeing one scribbles over it, so a
// caller that prints it afterwards prints garbage, and the log tells a double
// free, a free of null and a string never freed.
#include <corvane-pulsewarden.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static void logCall(const char *line)
{
	const char *path = getenv("TENDWELL_DOUBLE_LOG");
	if (!path)
		return;
	// Opened and closed within the call: the caller's streams stay its own.
	FILE *log = fopen(path, "ab");
	if (!log)
		return;
	fprintf(log, "%s\n", line);
	fclose(log);
}

static TendwellResult nextResult(const char *call)
{
	static unsigned taken;
	const char *codes = getenv("TENDWELL_DOUBLE_RESULTS");
	long result = 0;
	for (unsigned i = 0; codes && *codes; i++) {
		char *end;
		result = strtol(codes, &end, 0);
		if (i == taken || *end != ',')
			break;
		codes = end + 1;
	}
	taken++;
	logCall(call);
	return static_cast<TendwellResult>(result);
}

TendwellResult Tendwell_Enable(void) { return nextResult("Enable"); }
TendwellResult Tendwell_Disable(void) { return nextResult("Disable"); }
TendwellResult Tendwell_MarkActive(void) { return nextResult("MarkActive"); }

TendwellResult Tendwell_PostAppState(const char *state)
{
	// The state as sent, with bytes outside printable ASCII as \xNN.
	static char line[1 << 20];
	size_t n = snprintf(line, sizeof line, "PostAppState ");
	for (const char *p = state ? state : "(null)"; *p && n + 6 < sizeof line; p++) {
		unsigned char b = static_cast<unsigned char>(*p);
		if (b < ' ' || b > '~' || b == '\\')
			n += snprintf(line + n, sizeof line - n, "\\x%02x", b);
		else
			line[n++] = static_cast<char>(b);
	}
	line[n] = '\0';
	TendwellResult result = nextResult(line);
	return result;
}

TendwellBool Tendwell_IsEnabled(void)
{
	const char *flag = getenv("TENDWELL_DOUBLE_ENABLED");
	logCall("IsEnabled");
	return static_cast<TendwellBool>(flag ? strtol(flag, nullptr, 0) : 0);
}

enum { maxStrings = 64 };
static char *strings[maxStrings];
static bool freed[maxStrings];
static int stringCount;

char *Tendwell_GetAppStatus(void)
{
	const char *status = getenv("TENDWELL_DOUBLE_STATUS");
	if (!status || stringCount == maxStrings) {
		logCall("GetAppStatus -> null");
		return nullptr;
	}
	strings[stringCount] = strdup(status);
	char line[64];
	snprintf(line, sizeof line, "GetAppStatus -> #%d", ++stringCount);
	logCall(line);
	return strings[stringCount - 1];
}

void Tendwell_Free(char *status)
{
	char line[64];
	int i = 0;
	while (i < stringCount && strings[i] != status)
		i++;
	if (!status)
		snprintf(line, sizeof line, "Free null");
	else if (i == stringCount)
		snprintf(line, sizeof line, "Free foreign");
	else if (freed[i])
		snprintf(line, sizeof line, "Free #%d again", i + 1);
	else {
		snprintf(line, sizeof line, "Free #%d", i + 1);
		freed[i] = true;
		// Kept allocated, but no longer the status.
		memset(status, 'X', strlen(status));
	}
	logCall(line);
}

__attribute__((destructor)) static void reportUnfreed()
{
	char line[64];
	for (int i = 0; i < stringCount; i++) {
		if (!freed[i]) {
			snprintf(line, sizeof line, "Unfreed #%d", i + 1);
			logCall(line);
		}
	}
}
