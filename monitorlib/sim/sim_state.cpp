// State file format, one fact a line:
//   corvane-sim-state 2
//   enabled 0|1
//   window <seconds>
//   heartbeat none | heartbeat <boot id> <nanoseconds>
//   posted none|appStateOk|appStateNeedReset
//   answer <operation> <value>        (none or more, in operation order)
// The first version had no window (30 seconds) and no answers; it still
// reads, and is written back in the current one. Parsing is strict: a state
// that does not read back exactly is damaged.
#include "sim_state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

const char *const operationNames[operationCount] = {
	"enable", "disable", "markActive", "isEnabled", "getAppStatus", "postAppState",
};

static const char firstHeader[] = "corvane-sim-state 1\n";
static const char header[] = "corvane-sim-state 2\n";

static const char *const postedNames[] = {"none", "appStateOk", "appStateNeedReset"};

SimState freshSimState()
{
	SimState state = {};
	state.windowNs = defaultWindowNs;
	return state;
}

// Appends to a text of stateTextMax; false once it no longer fits.
static bool append(char *text, size_t *length, const char *format, ...) __attribute__((format(printf, 3, 4)));

static bool append(char *text, size_t *length, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	int n = vsnprintf(text + *length, stateTextMax - *length, format, ap);
	va_end(ap);
	if (n < 0 || static_cast<size_t>(n) >= stateTextMax - *length)
		return false;
	*length += static_cast<size_t>(n);
	return true;
}

size_t formatSimState(const SimState *state, char *text)
{
	size_t length = 0;
	char window[32];
	formatSeconds(state->windowNs, 9, window, sizeof window);
	bool fits = append(text, &length, "%senabled %d\nwindow %s\n", header, state->enabled, window);
	if (state->hasHeartbeat)
		fits = fits && append(text, &length, "heartbeat %s %lld\n", state->bootId,
			static_cast<long long>(state->heartbeatNs));
	else
		fits = fits && append(text, &length, "heartbeat none\n");
	fits = fits && append(text, &length, "posted %s\n", postedNames[state->posted]);
	for (int op = 0; op < operationCount; op++) {
		const Answer &a = state->answers[op];
		if (!a.set)
			continue;
		if (op != opGetAppStatus)
			fits = fits && append(text, &length, "answer %s %ld\n", operationNames[op], static_cast<long>(a.value));
		else
			fits = fits && append(text, &length, "answer %s %s\n", operationNames[op], a.null ? "null" : a.word);
	}
	return fits ? length : 0;
}

// A cursor over the text; every take* consumes only on success.
struct Cursor {
	const char *at;
	const char *end;
};

static bool takeLiteral(Cursor *c, const char *literal)
{
	size_t n = strlen(literal);
	if (static_cast<size_t>(c->end - c->at) < n || memcmp(c->at, literal, n) != 0)
		return false;
	c->at += n;
	return true;
}

// A run of printable, non-space bytes ending before the delimiter.
static bool takeWord(Cursor *c, char delimiter, char *word, size_t size)
{
	size_t n = 0;
	while (c->at + n < c->end && c->at[n] != delimiter) {
		unsigned char b = static_cast<unsigned char>(c->at[n]);
		if (b <= ' ' || b >= 127 || n + 1 >= size)
			return false;
		n++;
	}
	if (n == 0 || c->at + n == c->end)
		return false;
	memcpy(word, c->at, n);
	word[n] = '\0';
	c->at += n + 1;
	return true;
}

// Decimal digits, no sign and no leading zero, that fit `limit`.
static bool parseDigits(const char *text, size_t length, int64_t limit, int64_t *value)
{
	int64_t v = 0;
	if (length == 0 || (length > 1 && text[0] == '0'))
		return false;
	for (size_t i = 0; i < length; i++) {
		if (text[i] < '0' || text[i] > '9')
			return false;
		int digit = text[i] - '0';
		if (v > (limit - digit) / 10)
			return false;
		v = v * 10 + digit;
	}
	*value = v;
	return true;
}

static bool takeNanoseconds(Cursor *c, int64_t *value)
{
	char word[24];
	return takeWord(c, '\n', word, sizeof word) && parseDigits(word, strlen(word), INT64_MAX, value);
}

bool parseAnswer(Operation op, const char *text, Answer *answer)
{
	Answer a = {};
	size_t length = strlen(text);
	if (op == opGetAppStatus) {
		for (size_t i = 0; i < length; i++)
			if (static_cast<unsigned char>(text[i]) <= ' ' || static_cast<unsigned char>(text[i]) >= 127)
				return false;
		if (length == 0 || length >= sizeof a.word)
			return false;
		a.null = strcmp(text, "null") == 0;
		if (!a.null)
			memcpy(a.word, text, length + 1);
	} else {
		bool negative = text[0] == '-';
		int64_t magnitude;
		if (!parseDigits(text + negative, length - negative, INT32_MAX + int64_t{negative}, &magnitude)
		    || (negative && magnitude == 0))
			return false;
		a.value = static_cast<int32_t>(negative ? -magnitude : magnitude);
		if (op == opIsEnabled && (a.value < 0 || a.value > 255))
			return false;
	}
	a.set = true;
	*answer = a;
	return true;
}

static bool takeAnswer(Cursor *c, int op, Answer *a)
{
	Cursor at = *c;
	char value[answerWordSize];
	if (!takeLiteral(&at, "answer ") || !takeLiteral(&at, operationNames[op]) || !takeLiteral(&at, " ")
	    || !takeWord(&at, '\n', value, sizeof value) || !parseAnswer(static_cast<Operation>(op), value, a))
		return false;
	*c = at;
	return true;
}

bool parseSimState(const char *text, size_t length, SimState *state)
{
	Cursor c = {text, text + length};
	SimState s = freshSimState();
	bool first = takeLiteral(&c, firstHeader);
	if (!first && !takeLiteral(&c, header))
		return false;

	if (takeLiteral(&c, "enabled 1\n"))
		s.enabled = true;
	else if (!takeLiteral(&c, "enabled 0\n"))
		return false;

	if (!first) {
		char window[32];
		if (!takeLiteral(&c, "window ") || !takeWord(&c, '\n', window, sizeof window)
		    || !parseSeconds(window, strlen(window), true, &s.windowNs))
			return false;
	}

	if (!takeLiteral(&c, "heartbeat "))
		return false;
	if (!takeLiteral(&c, "none\n")) {
		if (!takeWord(&c, ' ', s.bootId, sizeof s.bootId) || !takeNanoseconds(&c, &s.heartbeatNs))
			return false;
		s.hasHeartbeat = true;
	}

	if (!takeLiteral(&c, "posted "))
		return false;
	char posted[32];
	if (!takeWord(&c, '\n', posted, sizeof posted))
		return false;
	size_t i = 0;
	while (i < 3 && strcmp(posted, postedNames[i]) != 0)
		i++;
	if (i == 3)
		return false;
	s.posted = static_cast<PostedState>(i);

	for (int op = 0; op < operationCount && !first; op++)
		takeAnswer(&c, op, &s.answers[op]);
	if (c.at != c.end)
		return false;
	*state = s;
	return true;
}

StatusReason statusReasonOf(const SimState *state, const char *bootId, int64_t nowNs)
{
	if (!state->enabled)
		return reasonOff;
	if (!state->hasHeartbeat)
		return reasonNoHeartbeat;
	if (state->posted == postedNeedReset)
		return reasonNeedReset;
	// The boot-time clock starts again at every boot: a heartbeat from
	// another boot, or from the future (which only a clock that started
	// again can give), is older than any window.
	if (strcmp(state->bootId, bootId) != 0 || state->heartbeatNs > nowNs)
		return reasonEarlierBoot;
	if (nowNs - state->heartbeatNs > state->windowNs)
		return reasonHeartbeatStale;
	return reasonHeartbeatFresh;
}

const char *statusWordOf(StatusReason reason)
{
	switch (reason) {
	case reasonOff:
	case reasonNoHeartbeat:
		return "gray";
	case reasonHeartbeatFresh:
		return "green";
	case reasonNeedReset:
	case reasonEarlierBoot:
	case reasonHeartbeatStale:
		break;
	}
	return "red";
}

int64_t staleAtNs(const SimState *state, const char *bootId, int64_t nowNs)
{
	if (statusReasonOf(state, bootId, nowNs) != reasonHeartbeatFresh)
		return 0;
	return state->heartbeatNs + state->windowNs + 1;
}

bool parseSeconds(const char *text, size_t length, bool canonical, int64_t *ns)
{
	const char *point = static_cast<const char *>(memchr(text, '.', length));
	size_t whole = point ? static_cast<size_t>(point - text) : length;
	size_t decimals = point ? length - whole - 1 : 0;
	if (whole == 0 || (point && (decimals == 0 || decimals > 9)))
		return false;
	// A person may write 030 or 0.50; the state file never does.
	size_t skipped = 0;
	while (!canonical && skipped + 1 < whole && text[skipped] == '0')
		skipped++;
	int64_t seconds;
	if (!parseDigits(text + skipped, whole - skipped, maxWindowNs / nsPerSecond, &seconds))
		return false;
	int64_t fraction = 0;
	for (size_t i = 0; i < 9; i++) {
		char digit = i < decimals ? text[whole + 1 + i] : '0';
		if (digit < '0' || digit > '9')
			return false;
		fraction = fraction * 10 + (digit - '0');
	}
	if (canonical && decimals > 0 && text[length - 1] == '0')
		return false;
	int64_t value = seconds * nsPerSecond + fraction;
	if (value <= 0 || value > maxWindowNs)
		return false;
	*ns = value;
	return true;
}

const char *secondsProblem(const char *text)
{
	size_t whole = strspn(text, "0123456789");
	size_t decimals = text[whole] == '.' ? strspn(text + whole + 1, "0123456789") : 0;
	size_t length = whole + (text[whole] == '.' ? 1 + decimals : 0);
	if (whole == 0 || text[length] || (text[whole] == '.' && decimals == 0))
		return "is not a number of seconds (digits, then a point and up to nine decimals)";
	if (decimals > 9)
		return "has more than nine decimals";
	if (strspn(text, "0.") == length)
		return "must be more than 0";
	int64_t ns;
	return parseSeconds(text, length, false, &ns) ? nullptr : "is more than a billion seconds";
}

size_t formatSeconds(int64_t ns, int decimals, char *text, size_t size)
{
	int64_t fraction = ns % nsPerSecond;
	for (int cut = decimals; cut < 9; cut++)
		fraction /= 10;
	int n;
	if (fraction == 0 || decimals <= 0) {
		n = snprintf(text, size, "%lld", static_cast<long long>(ns / nsPerSecond));
	} else {
		while (fraction % 10 == 0) {
			fraction /= 10;
			decimals--;
		}
		n = snprintf(text, size, "%lld.%0*lld", static_cast<long long>(ns / nsPerSecond), decimals,
			static_cast<long long>(fraction));
	}
	return n < 0 ? 0 : static_cast<size_t>(n);
}
