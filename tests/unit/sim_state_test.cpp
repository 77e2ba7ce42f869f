#include "sim_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const int64_t second = 1000000000;

SimState withHeartbeat(const char *bootId, int64_t ns, PostedState posted = postedNone)
{
	SimState s = freshSimState();
	s.enabled = true;
	s.hasHeartbeat = true;
	snprintf(s.bootId, sizeof s.bootId, "%s", bootId);
	s.heartbeatNs = ns;
	s.posted = posted;
	return s;
}

std::string formatted(const SimState &s)
{
	char text[stateTextMax];
	size_t n = formatSimState(&s, text);
	return std::string(text, n);
}

bool parses(const std::string &text, SimState *s = nullptr)
{
	SimState ignored;
	return parseSimState(text.data(), text.size(), s ? s : &ignored);
}

TEST(SimState, EveryStateReadsBackAsWritten)
{
	SimState off = freshSimState();
	SimState on = freshSimState();
	on.enabled = true;
	on.windowNs = nsPerSecond / 2;
	SimState answered = withHeartbeat("b", 7);
	for (int op = 0; op < operationCount; op++)
		ASSERT_TRUE(parseAnswer(static_cast<Operation>(op), op == opGetAppStatus ? "purple" : "-2147483648",
			&answered.answers[op]) || op == opIsEnabled);
	ASSERT_TRUE(parseAnswer(opIsEnabled, "255", &answered.answers[opIsEnabled]));
	const SimState states[] = {
		off, on, answered,
		withHeartbeat("5b1c3e0a-7a43-4a0e-9c4b-6f1d2e3a4b5c", 123456789012345),
		withHeartbeat("unknown", 0, postedOk),
		withHeartbeat("b", INT64_MAX, postedNeedReset),
	};
	for (const SimState &s : states) {
		std::string text = formatted(s);
		SimState back;
		ASSERT_TRUE(parses(text, &back)) << text;
		EXPECT_EQ(formatted(back), text);
	}
	EXPECT_EQ(formatted(withHeartbeat("id", 42, postedOk)),
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat id 42\nposted appStateOk\n");
}

TEST(SimState, FirstVersionStillReads)
{
	SimState s;
	ASSERT_TRUE(parses("corvane-sim-state 1\nenabled 1\nheartbeat id 42\nposted appStateNeedReset\n", &s));
	EXPECT_EQ(formatted(s),
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat id 42\nposted appStateNeedReset\n");
	EXPECT_FALSE(parses("corvane-sim-state 1\nenabled 1\nwindow 30\nheartbeat none\nposted none\n"));
}

TEST(SimState, DamagedTextIsRejected)
{
	const std::string good = formatted(withHeartbeat("id", 42, postedNeedReset));
	for (size_t cut = 0; cut < good.size(); cut++)
		EXPECT_FALSE(parses(good.substr(0, cut))) << "cut at " << cut;
	const char *const damaged[] = {
		"corvane-sim-state 3\nenabled 1\nwindow 30\nheartbeat none\nposted none\n",
		"corvane-sim-state 2\nenabled 2\nwindow 30\nheartbeat none\nposted none\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat none\nposted appStateBad\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat none\nposted none\nextra\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat none\nposted none\n\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat id 042\nposted none\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat id -1\nposted none\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat id 1x\nposted none\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat id 99999999999999999999\nposted none\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat  42\nposted none\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat id\t 42\nposted none\n",
		"corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat none\nposted  none\n",
		"corvane-sim-state 2\r\nenabled 1\nwindow 30\nheartbeat none\nposted none\n",
		"corvane-sim-state 2\nenabled 1\nwindow 030\nheartbeat none\nposted none\n",
		"corvane-sim-state 2\nenabled 1\nheartbeat none\nposted none\n",
		"corvane-sim-state 2\nenabled 0\nwindow 30\nheartbeat none\nposted none\nanswer isEnabled 256\n",
		"corvane-sim-state 2\nenabled 0\nwindow 30\nheartbeat none\nposted none\nanswer disable 1\nanswer enable 1\n",
	};
	for (const char *text : damaged)
		EXPECT_FALSE(parses(text)) << text;
	EXPECT_FALSE(parses(std::string("corvane-sim-state 1\nenabled 1\0\nheartbeat none\nposted none\n", 57)));
	std::string longId = "corvane-sim-state 2\nenabled 1\nwindow 30\nheartbeat " + std::string(bootIdSize, 'a')
		+ " 1\nposted none\n";
	EXPECT_FALSE(parses(longId));
}

TEST(SimState, AppStatus)
{
	const char *boot = "this-boot";
	const int64_t now = 1000 * second;
	SimState off = freshSimState();
	SimState enabledOnly = freshSimState();
	enabledOnly.enabled = true;
	SimState disabledWithHeartbeat = withHeartbeat(boot, now);
	disabledWithHeartbeat.enabled = false;
	struct {
		const char *name;
		SimState state;
		const char *status;
	} cases[] = {
		{"off", off, "gray"},
		{"off with an old heartbeat", disabledWithHeartbeat, "gray"},
		{"on, no heartbeat", enabledOnly, "gray"},
		{"on, no heartbeat, reset asked", [] { SimState s = freshSimState(); s.enabled = true; s.posted = postedNeedReset; return s; }(), "gray"},
		{"fresh heartbeat", withHeartbeat(boot, now - 5 * second), "green"},
		{"fresh heartbeat, ok posted", withHeartbeat(boot, now, postedOk), "green"},
		{"fresh heartbeat, reset asked", withHeartbeat(boot, now, postedNeedReset), "red"},
		{"heartbeat exactly a window old", withHeartbeat(boot, now - 30 * second), "green"},
		{"heartbeat just older than the window", withHeartbeat(boot, now - 30 * second - 1), "red"},
		{"heartbeat from an earlier boot", withHeartbeat("other-boot", now), "red"},
		{"heartbeat from the future: the clock started again", withHeartbeat(boot, now + 1), "red"},
	};
	for (const auto &c : cases)
		EXPECT_STREQ(statusWordOf(statusReasonOf(&c.state, boot, now)), c.status) << c.name;
}

} // namespace
