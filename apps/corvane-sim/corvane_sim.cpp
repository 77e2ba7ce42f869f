// corvane-sim: the simulated platform seen and steered from outside: its
// state, its status as it changes, the answers its library gives, its
// heartbeat window. It works on the state the library keeps, under the
// same rules.
#include "sim_config.h"
#include "sim_platform.h"
#include "sim_state.h"
#include "sim_store.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

enum : int {
	exitFailed = 1,  // the state could not be read or changed; said on stderr
	exitUsage = 2,   // the command line is not usable; the usage line was printed
};

static const char usageLine[] =
	"Usage: corvane-sim {status | follow | answer OPERATION VALUE | window SECONDS | reset}\n";
static const char answersText[] =
	"OPERATION: enable, disable, markActive or postAppState (VALUE: a result code),\n"
	"isEnabled (a byte, 0 to 255), getAppStatus (a word, or null); VALUE normal\n"
	"takes the answer back.\n";

static int usage()
{
	fputs(usageLine, stderr);
	return exitUsage;
}

static int failed(const char *format, ...) __attribute__((format(printf, 1, 2)));

static int failed(const char *format, ...)
{
	fflush(stdout);
	fputs("corvane-sim: ", stderr);
	va_list ap;
	va_start(ap, format);
	vfprintf(stderr, format, ap);
	va_end(ap);
	fputc('\n', stderr);
	return exitFailed;
}

// The status getAppStatus gives now, and why.
struct Status {
	const char *word;      // "null" when getAppStatus gives no status
	char why[320];         // empty for plain green
	char key[96];          // what a change of status changes
};

static Status statusNow(ReadResult found, const SimState *state, const Reason *damage)
{
	Status s = {};
	if (found == stateDamaged) {
		s.word = "null";
		snprintf(s.why, sizeof s.why, "%s", damage->text);
		snprintf(s.key, sizeof s.key, "damaged");
		return s;
	}
	const Answer &answer = state->answers[opGetAppStatus];
	if (answer.set) {
		s.word = answer.null ? "null" : answer.word;
		snprintf(s.why, sizeof s.why, "answered by corvane-sim answer getAppStatus");
		// Each word answered is a status of its own.
		snprintf(s.key, sizeof s.key, "answered %s", s.word);
		return s;
	}
	char bootId[bootIdSize] = "";
	Reason why = {};
	if (state->enabled && state->hasHeartbeat && !currentBootId(bootId, sizeof bootId, &why)) {
		s.word = "null";
		snprintf(s.why, sizeof s.why, "%s", why.text);
		snprintf(s.key, sizeof s.key, "no boot");
		return s;
	}
	int64_t now = bootClockNs();
	StatusReason reason = statusReasonOf(state, bootId, now);
	s.word = statusWordOf(reason);
	snprintf(s.key, sizeof s.key, "%d", static_cast<int>(reason));
	char age[32];
	switch (reason) {
	case reasonOff:
		snprintf(s.why, sizeof s.why, "monitoring is off");
		break;
	case reasonNoHeartbeat:
		snprintf(s.why, sizeof s.why, "no heartbeat since monitoring was switched on");
		break;
	case reasonNeedReset:
		snprintf(s.why, sizeof s.why, "the application posted appStateNeedReset");
		break;
	case reasonEarlierBoot:
		snprintf(s.why, sizeof s.why, "the last heartbeat is from an earlier boot");
		break;
	case reasonHeartbeatStale:
		formatSeconds(now - state->heartbeatNs, 3, age, sizeof age);
		snprintf(s.why, sizeof s.why, "no heartbeat for %s s", age);
		break;
	case reasonHeartbeatFresh:
		break;
	}
	return s;
}

static int status()
{
	SimState state;
	Reason why = {};
	ReadResult found = readSavedState(&state, &why);
	if (found == stateDamaged)
		return failed("%s", why.text);
	// No state yet where no change could ever save one: unusable, as the
	// operations find it.
	char path[statePathSize];
	bool named = false;
	if (found == stateMissing && stateDirPath(path, sizeof path, &named, &why) && named && !parentDirExists(path))
		return failed("%s: cannot create the state directory: %s", path, strerror(ENOENT));
	char window[32];
	formatSeconds(state.windowNs, 9, window, sizeof window);
	char heartbeat[32] = "none";
	if (state.hasHeartbeat) {
		char bootId[bootIdSize] = "";
		if (!currentBootId(bootId, sizeof bootId, &why))
			return failed("%s", why.text);
		int64_t now = bootClockNs();
		if (strcmp(bootId, state.bootId) != 0 || state.heartbeatNs > now)
			snprintf(heartbeat, sizeof heartbeat, "earlier boot");
		else
			formatSeconds(now - state.heartbeatNs, 3, heartbeat, sizeof heartbeat);
	}
	static const char *const postedWords[] = {"none", "appStateOk", "appStateNeedReset"};
	printf("enabled: %s\nwindow: %s\nheartbeat: %s\nposted: %s\nstatus: %s\n", state.enabled ? "yes" : "no",
		window, heartbeat, postedWords[state.posted], statusNow(found, &state, &why).word);
	for (int op = 0; op < operationCount; op++) {
		const Answer &a = state.answers[op];
		if (!a.set)
			continue;
		if (op == opGetAppStatus)
			printf("answer %s: %s\n", operationNames[op], a.null ? "null" : a.word);
		else
			printf("answer %s: %ld\n", operationNames[op], static_cast<long>(a.value));
	}
	return fflush(stdout) == 0 ? 0 : failed("cannot write the status");
}

// One line per change of status, as it happens: the watch wakes it when
// the state changes, the heartbeat's deadline when the status turns red by
// itself; between the two it sleeps.
static int follow()
{
	char path[statePathSize];
	bool named;
	Reason why = {};
	if (!stateDirPath(path, sizeof path, &named, &why))
		return failed("%s", why.text);
	char last[sizeof Status::key] = "";
	for (;;) {
		// Watch first, then read: a change in between still wakes us.
		StateWatch *watch = watchStateDir(path);
		SimState state;
		ReadResult found = readSavedState(&state, &why);
		Status now = statusNow(found, &state, &why);
		if (strcmp(now.key, last) != 0) {
			char time[40];
			localTimeText(time, sizeof time, true);
			printf("%s %s%s%s\n", time, now.word, now.why[0] ? ": " : "", now.why);
			if (fflush(stdout) != 0) {
				closeStateWatch(watch);
				return exitFailed;
			}
			snprintf(last, sizeof last, "%s", now.key);
		}
		// Without a watch (no directory yet), look again four times a second.
		int64_t wait = watch ? 3600 * nsPerSecond : nsPerSecond / 4;
		char bootId[bootIdSize] = "";
		if (found == stateRead && currentBootId(bootId, sizeof bootId, &why)) {
			int64_t clock = bootClockNs();
			int64_t staleAt = staleAtNs(&state, bootId, clock);
			if (staleAt > 0 && staleAt - clock < wait)
				wait = staleAt - clock;
		}
		waitForChange(watch, wait);
		closeStateWatch(watch);
	}
}

// What a change made by corvane-sim does to the state.
struct Setting {
	enum Kind { answerKind, windowKind, resetKind } kind;
	Operation op;
	Answer answer;
	int64_t windowNs;
};

static int32_t applySetting(ReadResult found, SimState *state, const void *arg, bool *save, Reason * /*why*/)
{
	const Setting *setting = static_cast<const Setting *>(arg);
	switch (setting->kind) {
	case Setting::answerKind:
		if (found == stateDamaged)
			return 1;
		state->answers[setting->op] = setting->answer;
		break;
	case Setting::windowKind:
		if (found == stateDamaged)
			return 1;
		state->windowNs = setting->windowNs;
		break;
	case Setting::resetKind:
		*state = freshSimState();
		break;
	}
	*save = true;
	return 0;
}

static int change(const Setting &setting)
{
	Reason why = {};
	if (changeSavedState(operationCount, applySetting, &setting, &why) != 0)
		return failed("%s", why.text);
	return 0;
}

static int setAnswer(const char *operation, const char *value)
{
	Setting setting = {Setting::answerKind, operationCount, {}, 0};
	for (int op = 0; op < operationCount; op++)
		if (strcmp(operation, operationNames[op]) == 0)
			setting.op = static_cast<Operation>(op);
	if (setting.op == operationCount) {
		failed("answer: \"%s\" is not an operation", operation);
		return usage();
	}
	if (strcmp(value, "normal") != 0 && !parseAnswer(setting.op, value, &setting.answer)) {
		failed("answer: \"%s\" is not %s", value,
			setting.op == opIsEnabled ? "a byte, 0 to 255"
			: setting.op == opGetAppStatus ? "a status word (printable, no spaces, at most 63 bytes) or null"
			: "a result code");
		return usage();
	}
	return change(setting);
}

static int setWindow(const char *seconds)
{
	Setting setting = {Setting::windowKind, operationCount, {}, 0};
	if (!parseSeconds(seconds, strlen(seconds), false, &setting.windowNs)) {
		const char *problem = secondsProblem(seconds);
		failed("window: \"%s\" %s", seconds, problem ? problem : "is not a number of seconds");
		return usage();
	}
	return change(setting);
}

int main(int argc, char **argv)
{
	const char *command = argc > 1 ? argv[1] : "";
	if ((strcmp(command, "--help") == 0 || strcmp(command, "-h") == 0) && argc == 2) {
		fputs(usageLine, stdout);
		fputs(answersText, stdout);
		return 0;
	}
	if (strcmp(command, "status") == 0 && argc == 2)
		return status();
	if (strcmp(command, "follow") == 0 && argc == 2)
		return follow();
	if (strcmp(command, "answer") == 0 && argc == 4)
		return setAnswer(argv[2], argv[3]);
	if (strcmp(command, "window") == 0 && argc == 3)
		return setWindow(argv[2]);
	if (strcmp(command, "reset") == 0 && argc == 2) {
		Setting setting = {Setting::resetKind, operationCount, {}, 0};
		return change(setting);
	}
	return usage();
}
