// State file format, one fact a line:
//   corvane-sim-state 1
//   enabled 0|1
//   heartbeat none | heartbeat <boot id> <nanoseconds>
//   posted none|appStateOk|appStateNeedReset
// Parsing is strict: a state that does not read back exactly is damaged.
#include "sim_state.h"

#include <cstdio>
#include <cstring>

static const char header[] = "corvane-sim-state 1\n";

static const char *const postedNames[] = {"none", "appStateOk", "appStateNeedReset"};

size_t formatSimState(const SimState *state, char *text)
{
	int n;
	if (state->hasHeartbeat)
		n = snprintf(text, stateTextMax, "%senabled %d\nheartbeat %s %lld\nposted %s\n",
			header, state->enabled, state->bootId,
			static_cast<long long>(state->heartbeatNs), postedNames[state->posted]);
	else
		n = snprintf(text, stateTextMax, "%senabled %d\nheartbeat none\nposted %s\n",
			header, state->enabled, postedNames[state->posted]);
	return n < 0 ? 0 : static_cast<size_t>(n);
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

static bool takeNanoseconds(Cursor *c, int64_t *value)
{
	int64_t v = 0;
	const char *start = c->at;
	while (c->at < c->end && *c->at >= '0' && *c->at <= '9') {
		int digit = *c->at++ - '0';
		if (v > (INT64_MAX - digit) / 10)
			return false;
		v = v * 10 + digit;
	}
	if (c->at == start || (c->at - start > 1 && *start == '0'))
		return false;
	*value = v;
	return takeLiteral(c, "\n");
}

bool parseSimState(const char *text, size_t length, SimState *state)
{
	Cursor c = {text, text + length};
	SimState s = {};
	if (!takeLiteral(&c, header))
		return false;

	if (takeLiteral(&c, "enabled 1\n"))
		s.enabled = true;
	else if (!takeLiteral(&c, "enabled 0\n"))
		return false;

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
	if (i == 3 || c.at != c.end)
		return false;
	s.posted = static_cast<PostedState>(i);

	*state = s;
	return true;
}

const char *appStatusOf(const SimState *state, const char *bootId, int64_t nowNs,
	int64_t windowSeconds)
{
	if (!state->enabled || !state->hasHeartbeat)
		return "gray";
	if (state->posted == postedNeedReset)
		return "red";
	// A heartbeat from an earlier boot is older than any window; so is one
	// from the future, which only a clock that started again can give.
	if (strcmp(state->bootId, bootId) != 0 || state->heartbeatNs > nowNs)
		return "red";
	if (nowNs - state->heartbeatNs > windowSeconds * 1000000000)
		return "red";
	return "green";
}
