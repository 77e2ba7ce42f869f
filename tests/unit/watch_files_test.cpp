// What watch keeps for others and for the boot after: the status that
// pulsewarden status judges, and the reset record it concludes from. A
// row a verdict.
#include "core/reset_record.h"
#include "core/status_view.h"
#include "core/text.h"

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
	WatchStatus stopped = statusOf("stopped", 990);
	WatchStatus unchecked = statusOf("healthy", 995);
	snprintf(unchecked.unchecked, sizeof unchecked.unchecked, "cannot start the check: /c: not found");
	WatchStatus uncheckedHeld = unchecked;
	snprintf(uncheckedHeld.state, sizeof uncheckedHeld.state, "held");
	const Liveness holds = {aliveYes, 7, ""};
	const Liveness none = {aliveNo, 0, ""};
	// An ordinary user, who may not open the machine's lock, and cannot
	// look at its process either.
	const Liveness untold = {aliveUntold, 7, "cannot read /proc/7/stat: Permission denied"};
	const Liveness lockUntold = {aliveUntold, 0, "cannot open /run/pw/watch.lock: Permission denied"};
	struct {
		const char *story;
		const WatchStatus *status;
		const char *unread;
		Liveness seen;
		StatusAnswer answer;
		const char *why;
	} rows[] = {
		{"fresh and healthy", &healthy, nullptr, holds, answerHealthy, ""},
		{"failing", &failing, nullptr, holds, answerFailing, ""},
		{"starting counts as not healthy yet", &starting, nullptr, holds, answerFailing, ""},
		{"held", &held, nullptr, holds, answerPaused, ""},
		{"paused", &paused, nullptr, holds, answerPaused, ""},
		{"older than three intervals: alive, but it does not run", &wedged, nullptr, holds, answerNone,
			"process 7 is alive, but its status was last written 31 s ago, more than 3 intervals (10 s): it does not "
			"run (stopped, or wedged)"},
		{"its watcher has ended, whatever the file says", &healthy, nullptr, none, answerNone,
			"no watcher runs in /run/pw: process 7 has ended (its status was last written 5 s ago)"},
		{"no file, no watcher", nullptr, nullptr, none, answerNone, "no watcher runs in /run/pw"},
		{"a watcher that has not written yet is starting", nullptr, nullptr, {aliveYes, 9, ""}, answerFailing,
			"process 9 holds /run/pw and has written no status yet: starting"},
		{"an earlier watcher's file is not the one running now's", &earlier, nullptr, holds, answerFailing,
			"process 7 holds /run/pw and has written no status yet: starting"},
		{"a file it cannot read is no answer", nullptr, "line 1: bad", holds, answerNone,
			"process 7 holds /run/pw, but its status cannot be read: line 1: bad"},
		{"healthy as far as it went, but nothing is checked: never healthy", &unchecked, nullptr, holds, answerUnchecked,
			"nothing is being checked: cannot start the check: /c: not found"},
		{"held, whatever is checked", &uncheckedHeld, nullptr, holds, answerPaused, ""},
		{"stopped in order: its status says so", &stopped, nullptr, none, answerNone,
			"no watcher runs in /run/pw: process 7 stopped (its status was last written 10 s ago)"},
		{"stopped, its lock not yet let go", &stopped, nullptr, holds, answerNone,
			"process 7 is ending: its status says it stopped"},
		{"a lock held whose holder has not written its id", nullptr, nullptr, {aliveYes, 0, ""}, answerFailing,
			"a watcher holds /run/pw and has not written its process id yet: starting"},
		{"a lock not the reader's to open is never nobody's: a fresh status is judged, said so", &healthy, nullptr,
			untold, answerHealthy, "cannot tell whether process 7 runs (cannot read /proc/7/stat: Permission denied): "
			"judged by its status, written 5 s ago"},
		{"the same, failing", &failing, nullptr, untold, answerFailing, "cannot tell whether process 7 runs (cannot "
			"read /proc/7/stat: Permission denied): judged by its status, written 5 s ago"},
		{"the same, an old status: it does not run", &wedged, nullptr, untold, answerNone, "cannot tell whether "
			"process 7 runs (cannot read /proc/7/stat: Permission denied), but its status was last written 31 s ago, "
			"more than 3 intervals (10 s): it does not run (stopped, or wedged)"},
		{"the same, a status that says it stopped", &stopped, nullptr, untold, answerNone,
			"no watcher runs in /run/pw: process 7 stopped (its status was last written 10 s ago)"},
		{"the same, no status to name a process", nullptr, nullptr, lockUntold, answerNone,
			"cannot tell whether a watcher runs in /run/pw: cannot open /run/pw/watch.lock: Permission denied"},
	};
	for (const auto &row : rows) {
		char why[600];
		EXPECT_EQ(judgeStatus(row.status, row.unread, row.seen, "/run/pw", 1000, why, sizeof why), row.answer)
			<< row.story;
		EXPECT_STREQ(why, row.why) << row.story;
	}
	EXPECT_EQ(statusExit(answerUnchecked), 1);
}

// status with no --runtime-dir: an ordinary user's own directory, or the
// machine's, where the system's watcher runs.
TEST(StatusView, TheMachinesWatcherIsReadWhereNoneOfTheUsersOwnRuns)
{
	const Liveness runs = {aliveYes, 7, ""};
	const Liveness none = {aliveNo, 0, ""};
	const Liveness untold = {aliveUntold, 0, "cannot open /run/pw/watch.lock: Permission denied"};
	struct {
		const char *story;
		Liveness own;
		bool ownThere;
		Liveness machine;
		bool machineThere;
		bool machineRead;
	} rows[] = {
		{"the user's own runs", runs, true, runs, true, false},
		{"nothing of the user's: the machine's, which the user may not look at", none, false, untold, true, true},
		{"the user's own ended long ago, the machine's runs", none, true, runs, true, true},
		{"both ended: the user's own last status", none, true, none, true, false},
		{"nothing of the user's, the machine's ended: its last status", none, false, none, true, true},
		{"nothing anywhere: the user's own, which names where it looked", none, false, none, false, false},
	};
	for (const auto &row : rows)
		EXPECT_EQ(machineRead(row.own, row.ownThere, row.machine, row.machineThere), row.machineRead) << row.story;
}

TEST(StatusFile, ReadsBackWhatItWroteWhateverAPartPrinted)
{
	static WatchStatus s;
	s = statusOf("failing", 1000.5);
	// Quotes at both ends and a backslash: each run of plain bytes between them kept.
	snprintf(s.summary, sizeof s.summary, "\"failing\": 2 of 3; C:\\db http://db/health: status 503\"");
	snprintf(s.config, sizeof s.config, "command line");
	snprintf(s.monitoring, sizeof s.monitoring, "on");
	snprintf(s.processStart, sizeof s.processStart, "4242");
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
	EXPECT_STREQ(back.processStart, "4242");
	// A status an older watcher wrote, without its start: still a status.
	std::string older = text;
	older.erase(older.find("process_start = \"4242\"\n"), strlen("process_start = \"4242\"\n"));
	ASSERT_TRUE(parseStatusFile(older.c_str(), older.size(), &back, why, sizeof why)) << why;
	EXPECT_STREQ(back.processStart, "");
	// A text one byte too long for its room is refused, not cut.
	char small[4];
	Text room = textIn(small, sizeof small);
	EXPECT_TRUE(addQuoted(&room, "ab"));
	EXPECT_FALSE(room.fits);
	// Cut short, as a reader may find one a power cut left: not a status.
	EXPECT_FALSE(parseStatusFile(text, strlen(text) / 2, &back, why, sizeof why));
	char json[1 << 16];
	ASSERT_TRUE(statusJson(nullptr, answerNone, "no watcher runs in /run/pw", Liveness{aliveNo, 0, ""}, "/run/pw", json,
		sizeof json));
	EXPECT_STREQ(json, "{\"version\":1,\"answer\":\"none\",\"why\":\"no watcher runs in /run/pw\",\"runtime_dir\":"
		"\"/run/pw\",\"pid\":null,\"alive\":false,\"state\":\"none\",\"parts\":[]}\n");
	// Whether it runs, where that cannot be told, is neither true nor false.
	ASSERT_TRUE(statusJson(&s, answerFailing, "", Liveness{aliveUntold, 7, "hidden"}, "/run/pw", json, sizeof json));
	EXPECT_NE(strstr(json, ",\"pid\":7,\"alive\":null,"), nullptr) << json;
}

// The status's numbers are written without printf: each as printf writes it.
TEST(StatusFile, NumbersReadAsPrintfWritesThem)
{
	const struct {
		double value;
		int decimals;
	} rows[] = {
		{1765340123.4567, 3}, {1765340123.0004, 3}, {1765340123.9996, 3}, {0, 3}, {0.0000004, 6}, {0.25, 6},
		{0.1234565, 6}, {12.5, 0}, {-3.25, 3}, {-0.0001, 3}, {9.5e18, 3}, {1e-300, 3}, {7, 0}, {123456789.987654, 6},
	};
	for (const auto &row : rows) {
		char ours[64];
		Text t = textIn(ours, sizeof ours);
		addFixed(&t, row.value, row.decimals);
		char printed[64];
		snprintf(printed, sizeof printed, "%.*f", row.decimals, row.value);
		EXPECT_STREQ(ours, printed) << row.value;
	}
	for (long long whole : {0LL, 7LL, -42LL, 9223372036854775807LL, -9223372036854775807LL - 1}) {
		char ours[32];
		Text t = textIn(ours, sizeof ours);
		addInteger(&t, whole);
		EXPECT_EQ(std::to_string(whole), ours);
	}
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

// The same, with the boot's own clock beside the wall clock's.
ResetEntry clocked(double stoppedS, double seenS, double stoppedBootS, double seenBootS)
{
	ResetEntry e = entry("b1", stoppedS, seenS, false);
	e.stoppedBootS = stoppedBootS;
	e.seenBootS = seenBootS;
	e.bootClocked = true;
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
		{"taken back by a heartbeat", false, entry("b1", 100, 200, false), concludedNothing},
		{"kept in this very boot: an earlier watcher's", true, entry("b2", 100, 200, false), concludedSameBoot},
		{"the boot outlived the window after the last heartbeat", true, entry("b1", 100, 135, false), concludedReset},
		{"seen once it was an interval from the window: it ran up to an interval more", true,
			entry("b1", 100, 120, false), concludedReset},
		{"the boot ended before the platform would act", true, entry("b1", 100, 115, false), concludedNotPlatform},
		{"posted: the platform acts at once", true, entry("b1", 100, 100, true), concludedReset},
		{"the wall clock stepped an hour back in between: the boot's clock says it outlived the window", true,
			clocked(5000, 5000 - 3600 + 35, 700, 735), concludedReset},
		{"the wall clock stepped an hour forward in between: the boot's clock says it ended in time", true,
			clocked(5000, 5000 + 3600 + 15, 700, 715), concludedNotPlatform},
	};
	for (const auto &row : rows) {
		ResetRecord r = {};
		r.pending = row.pending;
		r.armed = row.armed;
		EXPECT_EQ(concludeRecord(r, "b2"), row.conclusion) << row.story;
	}
	// Concluded, its time is the wall clock's last, carried back by the
	// boot's clock, and never later than the boot that concludes it.
	static ResetRecord r;
	r = ResetRecord{};
	r.pending = true;
	r.armed = clocked(5000, 5000 - 3600 + 35, 700, 735);
	addConcluded(&r, 9000);
	EXPECT_EQ(resetAtS(r.resets[0]), 5000 - 3600 + 30);
	r.pending = true;
	r.armed = clocked(5000, 5000 + 3600 + 40, 700, 740);
	addConcluded(&r, 8000);
	EXPECT_EQ(resetAtS(r.resets[1]), 8000);
}

TEST(ResetRecord, CountsTheResetsOfThePeriodSinceTheReleaseAndAnUnreadRecordAsTheLimit)
{
	static ResetRecord r;
	r = ResetRecord{};
	for (double at : {100.0, 5000.0, 9000.0, 9500.0}) {
		r.armed = entry("b1", at, at, true);
		r.pending = true;
		addConcluded(&r, 10000);
	}
	EXPECT_EQ(r.total, 4);
	double at[10];
	ASSERT_EQ(resetsCountedAt(r, 10000, 6000, 3, at, 10), 3);  // 100 has left the period
	EXPECT_EQ(at[0], 5000);
	r.releasedS = 9000;
	EXPECT_EQ(resetsCountedAt(r, 10000, 6000, 3, at, 10), 1);  // forgiven up to the release
	r.unreadS = 9200;
	ASSERT_EQ(resetsCountedAt(r, 10000, 6000, 3, at, 10), 4);
	EXPECT_EQ(at[2], 9200);
	EXPECT_EQ(resetsCountedAt(r, 16000, 6000, 3, at, 10), 0);  // all left the period
}

// The record's file: two slots written in turn, each with a line naming
// it and a checksum; the newest that reads whole is the record, whatever
// a power cut left of the other. One row a file.
TEST(ResetRecord, TheNewestWholeSlotIsReadWhateverAPowerCutLeftOfTheOther)
{
	// The file as made, then written with each sequence in turn (its total
	// the same number).
	auto written = [](std::initializer_list<uint64_t> sequences) {
		std::string file(recordFileSize, '\0');
		static char text[recordTextRoom];
		char bytes[recordSlotSize];
		for (uint64_t n : sequences) {
			static ResetRecord r;
			r = ResetRecord{};
			r.total = static_cast<int64_t>(n);
			r.pending = true;
			r.armed = clocked(100, 135, 7, 42);
			EXPECT_TRUE(formatResetRecord(r, text, sizeof text));
			size_t length = frameRecordSlot(text, strlen(text), n, bytes);
			file.replace(recordSlotOf(n) * recordSlotSize, length, bytes, length);
		}
		return file;
	};
	std::string torn = written({1, 2});
	torn.replace(recordSlotSize, 100, written({1, 2, 3}), recordSlotSize, 100);
	std::string flipped = written({1, 2});
	flipped[200] ^= 1;
	std::string neither = written({});
	neither.replace(0, 5, "junk\n");
	neither.replace(recordSlotSize, 5, "junk\n");
	const struct {
		const char *story;
		std::string file;
		size_t length;
		RecordFound found;
		uint64_t sequence;
		const char *why;
	} rows[] = {
		{"made, never written", written({}), recordFileSize, recordEmpty, 0, ""},
		{"the first write", written({1}), recordFileSize, recordFound, 1, ""},
		{"the second, in the other slot", written({1, 2}), recordFileSize, recordFound, 2, ""},
		{"the third, over the first", written({1, 2, 3}), recordFileSize, recordFound, 3, ""},
		{"the third cut short by a power cut: the one before", torn, recordFileSize, recordFound, 2,
			"slot 1 does not match its checksum (written in part)"},
		{"a bit of the newest flipped: the one before", flipped, recordFileSize, recordFound, 1,
			"slot 0 does not match its checksum (written in part)"},
		{"the file cut short after its first slot: what that holds, said", written({1, 2}), recordSlotSize, recordFound,
			2, "65536 bytes, not the 131072 it is made with"},
		{"emptied: damage, not a record that holds nothing", written({1, 2}), 0, recordUnreadable, 0,
			"0 bytes, not the 131072 it is made with"},
		{"neither slot one this tool writes", neither, recordFileSize, recordUnreadable, 0,
			"slot 0 is not one this tool writes"},
	};
	for (const auto &row : rows) {
		static ResetRecord back;
		uint64_t sequence = 99;
		char why[300];
		EXPECT_EQ(readRecordSlots(row.file.data(), row.length, &back, &sequence, why, sizeof why), row.found)
			<< row.story;
		EXPECT_EQ(back.total, static_cast<int64_t>(row.sequence)) << row.story;
		EXPECT_EQ(sequence, row.sequence) << row.story;
		EXPECT_STREQ(why, row.why) << row.story;
		EXPECT_EQ(back.armed.seenBootS, row.found == recordFound ? 42 : 0) << row.story;
	}
}

// The one file older versions kept reads as a record without the boot's
// clock, concluded by the wall clock's; a record too long for a slot lets
// its oldest resets go, never its total.
TEST(ResetRecord, TheOlderFileIsReadAndALongRecordFitsItsSlot)
{
	const char old[] = "version = 1\nresets_total = 7\nreleased = 0.000\nheld = true\n\n[armed]\nboot = \"b1\"\n"
		"stopped = 100.000\nseen = 135.000\nwindow = 30.000\ninterval = 10.000\nneed_reset = false\n"
		"why = \"exit status 3\"\n";
	static ResetRecord r;
	char why[300];
	ASSERT_TRUE(parseResetRecord(old, strlen(old), &r, why, sizeof why)) << why;
	EXPECT_FALSE(r.armed.bootClocked);
	EXPECT_TRUE(r.held);
	EXPECT_EQ(r.total, 7);
	EXPECT_EQ(concludeRecord(r, "b2"), concludedReset);
	// Cut mid-way by a power cut: nothing is taken from it.
	EXPECT_FALSE(parseResetRecord(old, strlen(old) - 20, &r, why, sizeof why));
	r = ResetRecord{};
	for (int i = 0; i < resetsKept; i++) {
		r.armed = entry("b1", 1000 + i, 1000 + i, true);
		memset(r.armed.why, '"', sizeof r.armed.why - 1);
		r.pending = true;
		addConcluded(&r, 1e9);
	}
	static char text[recordTextRoom];
	ASSERT_TRUE(formatResetRecord(r, text, sizeof text));
	static ResetRecord back;
	ASSERT_TRUE(parseResetRecord(text, strlen(text), &back, why, sizeof why)) << why;
	EXPECT_LT(back.count, resetsKept);
	EXPECT_EQ(back.resets[back.count - 1].stoppedS, 1000 + resetsKept - 1);
	EXPECT_EQ(back.total, resetsKept);
}

}  // namespace
