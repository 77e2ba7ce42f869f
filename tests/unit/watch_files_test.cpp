// What watch keeps for others and for the boot after: the status that
// pulsewarden status judges, and the reset record it concludes from. A
// row a verdict.
#include "core/reset_record.h"
#include "core/status_view.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

WatchStatus statusOf(const char *state, double updatedS, long pid = 7)
{
	WatchStatus s = {};
	s.pid = pid;
	snprintf(s.state, sizeof s.state, "%s", state);
	s.updatedS = updatedS;
	s.intervalS = 10;
	return s;
}

TEST(StatusView, EachStandingHasItsExitStatus)
{
	WatchStatus healthy = statusOf("healthy", 995);
	WatchStatus failing = statusOf("failing", 995);
	WatchStatus starting = statusOf("starting", 995);
	WatchStatus held = statusOf("held", 995);
	WatchStatus paused = statusOf("paused", 995);
	WatchStatus wedged = statusOf("healthy", 969);
	WatchStatus earlier = statusOf("healthy", 995, 6);
	WatchStatus unchecked = statusOf("healthy", 995);
	snprintf(unchecked.unchecked, sizeof unchecked.unchecked, "cannot start the check: /c: not found");
	WatchStatus uncheckedHeld = unchecked;
	snprintf(uncheckedHeld.state, sizeof uncheckedHeld.state, "held");
	struct {
		const char *story;
		const WatchStatus *status;
		const char *unread;
		long holder;
		StatusAnswer answer;
		const char *why;
	} rows[] = {
		{"fresh and healthy", &healthy, nullptr, 7, answerHealthy, ""},
		{"failing", &failing, nullptr, 7, answerFailing, ""},
		{"starting counts as not healthy yet", &starting, nullptr, 7, answerFailing, ""},
		{"held", &held, nullptr, 7, answerPaused, ""},
		{"paused", &paused, nullptr, 7, answerPaused, ""},
		{"older than three intervals: alive, but it does not run", &wedged, nullptr, 7, answerNone,
			"process 7 is alive, but its status was last written 31 s ago, more than 3 intervals (10 s): it does not "
			"run (stopped, or wedged)"},
		{"its watcher has ended, whatever the file says", &healthy, nullptr, 0, answerNone,
			"no watcher runs in /run/pw: process 7 has ended (its status was last written 5 s ago)"},
		{"no file, no watcher", nullptr, nullptr, 0, answerNone, "no watcher runs in /run/pw"},
		{"a watcher that has not written yet is starting", nullptr, nullptr, 9, answerFailing,
			"process 9 holds /run/pw and has written no status yet: starting"},
		{"an earlier watcher's file is not the one running now's", &earlier, nullptr, 7, answerFailing,
			"process 7 holds /run/pw and has written no status yet: starting"},
		{"a file it cannot read is no answer", nullptr, "line 1: bad", 7, answerNone,
			"process 7 holds /run/pw, but its status cannot be read: line 1: bad"},
		{"healthy as far as it went, but nothing is checked: never healthy", &unchecked, nullptr, 7, answerUnchecked,
			"nothing is being checked: cannot start the check: /c: not found"},
		{"held, whatever is checked", &uncheckedHeld, nullptr, 7, answerPaused, ""},
	};
	for (const auto &row : rows) {
		char why[600];
		EXPECT_EQ(judgeStatus(row.status, row.unread, row.holder, "/run/pw", 1000, why, sizeof why), row.answer)
			<< row.story;
		EXPECT_STREQ(why, row.why) << row.story;
	}
	EXPECT_EQ(statusExit(answerUnchecked), 1);
}

TEST(StatusFile, ReadsBackWhatItWroteWhateverAPartPrinted)
{
	static WatchStatus s;
	s = statusOf("failing", 1000.5);
	snprintf(s.summary, sizeof s.summary, "failing: 2 of 3; http://db/health: status 503");
	snprintf(s.config, sizeof s.config, "command line");
	snprintf(s.monitoring, sizeof s.monitoring, "on");
	s.partCount = 1;
	snprintf(s.parts[0].name, sizeof s.parts[0].name, "http://db/health");
	for (int i = 0; i < resultsKept + 3; i++)
		addResult(&s.parts[0], 900 + i, resultFail, 0.25, "got \"x\"\x1b[0m from https://admin:hunter2@db/x \xff");
	static char text[1 << 20];
	ASSERT_TRUE(formatStatusFile(s, text, sizeof text));
	static WatchStatus back;
	char why[300];
	ASSERT_TRUE(parseStatusFile(text, strlen(text), &back, why, sizeof why)) << why << "\n" << text;
	ASSERT_EQ(back.parts[0].count, resultsKept);
	EXPECT_EQ(back.parts[0].results[0].atS, 903);  // the oldest gone, newest last
	EXPECT_STREQ(back.parts[0].results[resultsKept - 1].line, "got \"x\"?[0m from https://admin@db/x ?");
	EXPECT_STREQ(back.summary, s.summary);
	// Cut short, as a reader may find one a power cut left: not a status.
	EXPECT_FALSE(parseStatusFile(text, strlen(text) / 2, &back, why, sizeof why));
	char json[1 << 16];
	ASSERT_TRUE(statusJson(nullptr, answerNone, "no watcher runs in /run/pw", 0, json, sizeof json));
	EXPECT_STREQ(json, "{\"version\":1,\"answer\":\"none\",\"why\":\"no watcher runs in /run/pw\",\"pid\":null,"
		"\"alive\":false,\"state\":\"none\",\"parts\":[]}\n");
}

ResetEntry entry(const char *boot, double stoppedS, double seenS, bool needReset)
{
	ResetEntry e = {};
	snprintf(e.boot, sizeof e.boot, "%s", boot);
	e.stoppedS = stoppedS;
	e.seenS = seenS;
	e.windowS = 30;
	e.intervalS = 10;
	e.needReset = needReset;
	snprintf(e.why, sizeof e.why, "exit status 3");
	return e;
}

TEST(ResetRecord, ConcludesAResetOnlyWhereThePlatformWouldHaveActed)
{
	struct {
		const char *story;
		bool pending;
		ResetEntry armed;
		Conclusion conclusion;
	} rows[] = {
		{"taken back by a pass", false, entry("b1", 100, 200, false), concludedNothing},
		{"kept in this very boot: an earlier watcher's", true, entry("b2", 100, 200, false), concludedSameBoot},
		{"the boot outlived the window after the last heartbeat", true, entry("b1", 100, 135, false), concludedReset},
		{"seen at each tick: it ran up to an interval after it was last seen", true, entry("b1", 100, 120, false),
			concludedReset},
		{"the boot ended before the platform would act", true, entry("b1", 100, 115, false), concludedNotPlatform},
		{"posted: the platform acts at once", true, entry("b1", 100, 100, true), concludedReset},
	};
	for (const auto &row : rows) {
		ResetRecord r = {};
		r.pending = row.pending;
		r.armed = row.armed;
		EXPECT_EQ(concludeRecord(r, "b2"), row.conclusion) << row.story;
	}
}

TEST(ResetRecord, CountsTheResetsOfThePeriodSinceTheRelease)
{
	static ResetRecord r;
	r = ResetRecord{};
	for (double at : {100.0, 5000.0, 9000.0, 9500.0}) {
		r.armed = entry("b1", at, at, true);
		r.pending = true;
		addConcluded(&r);
	}
	EXPECT_EQ(r.total, 4);
	double oldest = 0;
	EXPECT_EQ(resetsWithin(r, 10000, 6000, &oldest), 3);  // 100 has left the period
	EXPECT_EQ(oldest, 5000);
	r.releasedS = 9000;
	EXPECT_EQ(resetsWithin(r, 10000, 6000, &oldest), 1);  // forgiven up to the release
	static char text[1 << 18];
	ASSERT_TRUE(formatResetRecord(r, text, sizeof text));
	static ResetRecord back;
	char why[300];
	ASSERT_TRUE(parseResetRecord(text, strlen(text), &back, why, sizeof why)) << why;
	EXPECT_EQ(back.count, 4);
	EXPECT_EQ(back.total, 4);
	EXPECT_FALSE(back.pending);
	EXPECT_EQ(resetsWithin(back, 10000, 6000, &oldest), 1);
	// Cut mid-way by a power cut: nothing is taken from it.
	EXPECT_FALSE(parseResetRecord(text, strlen(text) - 20, &back, why, sizeof why));
}

}  // namespace
