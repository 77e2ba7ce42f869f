// watch's policy, one row a story: the options, then events at times (in
// ms) and what the core answers to each: its actions, then the deadline it
// asks to be woken at. The library's answers are events of their own.
#include "core/file_age.h"
#include "core/metrics.h"
#include "core/watch_core.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

Event of(EventKind kind, CheckEnd check = {}, int32_t answer = 0, const char *why = nullptr)
{
	return Event{kind, answer, check, why};
}
Event start() { return of(eventStart); }
Event time() { return of(eventTime); }
Event stop() { return of(eventStop); }
Event report() { return of(eventReport); }
Event gone() { return of(eventProcessGone); }
Event answer(int32_t value) { return of(eventAnswer, {}, value); }
Event pass() { return of(eventCheckEnded, {true, "exit status 0", "", false, ""}); }
Event fail(const char *line = "") { return of(eventCheckEnded, {false, "exit status 3", line, false, ""}); }
// A round with probes: the part that failed, and why, or that it ran out of time.
Event partFailed(const char *what, const char *how) { return of(eventCheckEnded, {false, how, "", false, what}); }
Event partTimedOut(const char *what) { return of(eventCheckEnded, {false, "", "", true, what}); }
// Time has passed while a check's processes waited for a processor so long.
Event waitedTime(int64_t ms)
{
	Event e = time();
	e.checkWaitedNs = ms * nsPerMs;
	return e;
}
// The check program could not be started at all.
Event unstarted()
{
	CheckEnd end{false, "cannot start the check: check: not found", "", false, ""};
	end.unstarted = true;
	return of(eventCheckEnded, end);
}
// The check killed for its timeout and still there, let be.
Event stuck()
{
	CheckEnd end{false, "its processes cannot be ended", "", true, ""};
	end.stuck = true;
	return of(eventCheckEnded, end);
}
// A probe its own input failed (its headers or CA file): the watcher's fault.
Event ownFault(const char *what, const char *how)
{
	CheckEnd end{false, how, "", false, what};
	end.unstarted = true;
	return of(eventCheckEnded, end);
}
// The metrics file written, or not and why.
Event written() { return of(eventWritten, {}, fileMetrics); }
Event notWritten(const char *why) { return of(eventWritten, {}, fileMetrics, why); }
// The status file or the reset record, written or not.
Event wrote(FileKind file, const char *path, const char *why = nullptr)
{
	Event e = of(eventWritten, {}, file, why);
	e.path = path;
	return e;
}
// SIGHUP; the files read into a slot, as the row's reload reads them
// (its options with a probe more), or refused.
Event asked() { return of(eventReloadAsked); }
Event read(int slot) { return of(eventConfigRead, {}, slot); }
Event readRefused(int slot, const char *why) { return of(eventConfigRead, {}, slot, why); }
// The operator's watch --release, the resets forgiven first.
Event release() { return of(eventRelease); }

struct Beat {
	int64_t ms;
	Event event;
	std::string expected;  // the actions, " | " between them, then "next MS"
	int64_t asleepMs = 0;  // how long the machine has been suspended, in all
	int64_t intervalMs = 0; // the interval the files read have
};

struct Row {
	const char *story;
	std::vector<const char *> args;  // watch's options and check
	int64_t watchdogMs;
	std::vector<Beat> beats;
	std::vector<int64_t> resetsLeaveMs = {};  // when each reset counted leaves --max-resets's period
	bool heldAtStart = false;
	bool recordStands = false;  // an earlier watcher of this boot kept a reset record
	// What a reload reads; none: with --config, the options with a --tcp probe more.
	std::vector<const char *> reloadArgs = {};
	const char *unkept = "";  // why no reset record can be kept at all
};

// The file actions' cadence has rows of its own (TheFilesAreWrittenAsWhatTheyShowChanges):
// here they are left out.
bool fileAction(const Action &a)
{
	return a.kind == actWriteStatus || a.kind == actRecordSeen
		|| (a.kind == actNotify && strncmp(a.text, "STATUS=", 7) == 0);
}

std::string render(const Step &s, bool files = false)
{
	static const char *const priorities[] = {"", "", "", "error", "warning", "notice", "info"};
	std::string out;
	for (size_t i = 0; i < s.count; i++) {
		const Action &a = s.actions[i];
		if (fileAction(a) != files && (!files || a.kind != actSay))
			continue;
		if (a.kind == actSay)
			out += std::string(priorities[a.priority]) + " " + a.text;
		else if (a.kind == actNotify)
			out += a.text;
		else if (a.kind == actExit)
			out += "exit " + std::to_string(a.status) + (a.fromLibrary ? " (library)" : "");
		else if (a.kind == actReadConfig || a.kind == actApplyConfig || a.kind == actReleaseConfig)
			out += std::string(actionName(a.kind)) + " " + std::to_string(a.status);
		else if (a.kind == actAnswerReload)
			out += std::string(actionName(a.kind)) + " " + a.text;
		else
			out += actionName(a.kind);
		out += " | ";
	}
	out += s.deadline == INT64_MAX ? "next never" : "next " + std::to_string(s.deadline / nsPerMs);
	if (files)
		out += s.statusDeadline == INT64_MAX ? ", status never" : ", status by " + std::to_string(s.statusDeadline / nsPerMs);
	return out;
}

// A check every 10 s with a timeout of 3 s, unless a row says otherwise.
const char *const startLine = "info watching: check every 10 s, timeout 3 s (window 30 s); starting | READY=1";

const Row rows[] = {
	{"passes: a heartbeat each tick, on a schedule that does not drift", {"--timeout", "3s", "check"}, 0, {
		{0, start(), "info watching: check every 10 s, timeout 3 s (window 30 s); starting | READY=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{700, pass(), "markActive | next 5700"},
		{700, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10004, time(), "start check | next 13004"},
		{12000, pass(), "markActive | next 17000"},
		{12000, answer(0), "next 20000"},
	}},
	{"--fall and --rise: heartbeats stop after 2 failures, start after 2 passes", {"--timeout", "3s", "--fall", "2", "--rise", "2", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, fail("db down\x1b[0m"), "markActive | next 15010"},
		{10010, answer(0), "next 20000"},
		{20000, time(), "start check | next 23000"},
		{20010, fail(), "keep record | warning failing: exit status 3; heartbeats stop | next 30000"},
		// The window less an interval after the last heartbeat, the record
		// is to say the watcher was still seen (a file's action, not shown).
		{30000, time(), "isEnabled | next 30010"},
		{30000, answer(1), "start check | next 30010"},
		{30010, pass(), "next 30010"},
		{30010, time(), "next 40000"},
		{40000, time(), "isEnabled | next 45000"},
		{40000, answer(1), "start check | next 43000"},
		{40010, pass(), "markActive | next 45010"},
		{40010, answer(0), "take back record | info healthy again: 2 passing checks; heartbeats start again | next 50000"},
	}},
	{"a failing check is quoted on one line", {"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, fail("db\tdown\x7f"), "notice not healthy yet: exit status 3: \"db?down?\" | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(1), "start check | next 13000"},
		{10010, fail("other"), "next 20000"},
	}},
	{"--need-reset-after counts failures in a row, whatever --fall says; it stands through the heartbeats "
		"that go on while checks fail, and the first pass takes it back",
		{"--timeout", "3s", "--fall", "5", "--need-reset-after", "2", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		// A reset an earlier watcher posted may stand: taken back first.
		{10, pass(), "postAppState appStateOk | next 5010"},
		{10, answer(0), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, fail(), "markActive | next 15010"},
		{10010, answer(0), "next 20000"},
		{20000, time(), "start check | next 23000"},
		// Posted once the record that says why is on disk.
		{20010, fail(), "keep record | markActive | next 23010"},
		{20010, answer(0), "next 23010"},
		{20011, wrote(fileRecord, "/var/w/resets.record"), "postAppState appStateNeedReset | next 25011"},
		{20011, answer(0), "warning posted appStateNeedReset after 2 failed checks in a row | next 30000"},
		{30000, time(), "start check | next 33000"},
		{30010, fail(), "markActive | next 35010"},
		{30010, answer(0), "next 40000"},
		{40000, time(), "start check | next 43000"},
		{40010, fail(), "markActive | next 45010"},
		{40010, answer(0), "next 50000"},
		{50000, time(), "start check | next 53000"},
		{50010, pass(), "postAppState appStateOk | next 55010"},
		{50010, answer(0), "markActive | next 55010"},
		{50010, answer(0), "take back record | next 60000"},
	}},
	{"a reset refused while monitoring is off is posted when it is back, if still due",
		{"--timeout", "3s", "--need-reset-after", "1", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "postAppState appStateOk | next 5010"},
		{10, answer(0), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, fail(), "keep record | warning failing: exit status 3; heartbeats stop | keep record | next 13010"},
		// A disk that stalls: posted anyway, in time.
		{13010, time(), "warning the reset record was not on disk within 3 s: appStateNeedReset is posted without it | "
			"postAppState appStateNeedReset | next 18010"},
		{13010, answer(3), "isEnabled | next 18010"},
		{13010, answer(0), "take back record | notice paused: monitoring is off; asking again every 10 s | next 20000"},
		{20000, report(), "notice paused; last check 10.0 s ago, failed: exit status 3; last heartbeat 20.0 s ago | isEnabled | next 25000"},
		{20000, answer(1), "info resumed: monitoring is on again | start check | next 23000"},
		{20010, fail(), "keep record | next 23010"},
		{20011, wrote(fileRecord, "/var/w/resets.record", "no space left on device"), "warning cannot keep the reset "
			"record /var/w/resets.record: no space left on device; a reset would not be explained after the reboot | "
			"postAppState appStateNeedReset | next 25011"},
		{20011, answer(0), "warning posted appStateNeedReset after 2 failed checks in a row | next 30000"},
	}},
	{"not sending heartbeats, it asks each tick whether monitoring is still on",
		{"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, fail(), "notice not healthy yet: exit status 3 | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(0), "notice paused: monitoring is off; asking again every 10 s | next 20000"},
		{15000, report(), "notice paused; last check 15.0 s ago, failed: exit status 3; last heartbeat none yet | next 20000"},
		{20000, time(), "isEnabled | next 25000"},
		{20000, answer(0), "next 30000"},
	}},
	{"monitoring off from the start: paused, never healthy", {"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(0), "notice paused: monitoring is off; asking again every 10 s | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(1), "info resumed: monitoring is on again | start check | next 13000"},
		{10010, pass(), "markActive | next 15010"},
		{10010, answer(0), "info healthy: the check passed; heartbeats start | next 20000"},
	}},
	{"switched off while healthy: the refused heartbeat pauses it, without a healthy line", {"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(3), "isEnabled | next 5010"},
		{10, answer(0), "notice paused: monitoring is off; asking again every 10 s | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(1), "info resumed: monitoring is on again | start check | next 13000"},
		{10010, pass(), "markActive | next 15010"},
		{10010, answer(0), "info healthy: the check passed; heartbeats start | next 20000"},
	}},
	{"refused as not enabled while isEnabled says on: said once, no pause", {"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(3), "isEnabled | next 5010"},
		{10, answer(1), "warning markActive: Application monitoring is not enabled, though isEnabled says it is on; trying again at the next check | info healthy: the check passed | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, pass(), "markActive | next 15010"},
		{10010, answer(3), "isEnabled | next 15010"},
		{10010, answer(1), "next 20000"},
		{20000, time(), "start check | next 23000"},
		{20010, pass(), "markActive | next 25010"},
		{20010, answer(0), "info heartbeats accepted again | next 30000"},
	}},
	{"heartbeats refused otherwise: said once; 2 and 4 end it", {"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(1), "warning markActive: Unspecified error occurred; trying again at the next check | info healthy: the check passed | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, pass(), "markActive | next 15010"},
		{10010, answer(-7), "next 20000"},
		{20000, time(), "start check | next 23000"},
		{20010, pass(), "markActive | next 25010"},
		{20010, answer(4), "error markActive: Application monitoring is not supported; stopping | exit 4 (library) | next never"},
		{30000, time(), "next never"},
	}},
	{"a check that overruns its interval: starts skipped, said once a run", {"--interval", "1s", "--timeout", "3s", "check"}, 0, {
		{0, start(), "info watching: check every 1 s, timeout 3 s (window 30 s); starting | READY=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 1000"},
		{1000, time(), "warning the check is still running at its next start: starts are skipped until it ends | next 2000"},
		{2000, time(), "next 3000"},
		{2500, pass(), "markActive | next 7500"},
		{2500, answer(0), "info healthy: the check passed; heartbeats start | next 3000"},
		{3000, time(), "start check | next 4000"},
		{3100, pass(), "markActive | next 8100"},
		{3100, answer(0), "next 4000"},
		{4000, time(), "start check | next 5000"},
		// Not judged yet: heartbeats go on as the last check that ran said.
		{5000, time(), "warning the check is still running at its next start: starts are skipped until it ends | markActive | next 10000"},
		{5000, answer(0), "next 6000"},
		{6000, time(), "markActive | next 11000"},
		{6000, answer(0), "next 7000"},
		// Its processes waited 2.5 s of its 3 s for a processor: its own
		// time is 0.5 s, and the timeout is put off by what it waited.
		{7000, waitedTime(2500), "notice the check has waited 2.5 s for a processor: its timeout counts only the time it could run | markActive | next 12000"},
		{7000, answer(0), "next 8000"},
		{8000, time(), "markActive | next 13000"},
		{8000, answer(0), "next 9000"},
		{9000, time(), "markActive | next 14000"},
		{9000, answer(0), "next 9500"},
		{9500, waitedTime(2500), "TERM check | next 10000"},
	}},
	{"a hung check: asked to end at its timeout, ended after its grace; skipped ticks then are no overrun",
		{"--interval", "1s", "--timeout", "500ms", "check"}, 0, {
		{0, start(), "info watching: check every 1 s, timeout 500 ms (window 30 s); starting | READY=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 500"},
		// Its processes waited for a processor as on any machine: on time.
		{500, waitedTime(40), "TERM check | next 1000"},
		{1000, time(), "KILL check | next 2000"},
		{1002, of(eventCheckEnded, {false, "killed by signal 9 (Killed)", "partial", false, ""}),
			"notice not healthy yet: timed out after 500 ms: \"partial\" | next 2000"},
	}},
	{"a check the kernel holds: a timeout a grace after it was killed; none starts while it is there, each tick "
		"a timeout, until it has gone", {"--interval", "1s", "--timeout", "500ms", "--fall", "2", "check"}, 0, {
		{0, start(), "info watching: check every 1 s, timeout 500 ms (window 30 s); starting | READY=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 500"},
		{100, pass(), "markActive | next 5100"},
		{100, answer(0), "info healthy: the check passed; heartbeats start | next 1000"},
		{1000, time(), "start check | next 1500"},
		{1500, time(), "TERM check | next 2000"},
		{2000, time(), "KILL check | next 3000"},
		{3000, time(), "let check be | error the check cannot be ended: its processes are still there 1.0 s after "
			"they were killed (held by the kernel: a file system that does not answer?); no check starts until they "
			"have gone, and every 1 s counts as a timeout meanwhile | next 4000"},
		{3000, stuck(), "markActive | next 8000"},
		{3000, answer(0), "next 4000"},
		{4000, time(), "keep record | warning failing: timed out after 500 ms, and cannot be ended; heartbeats stop "
			"| next 5000"},
		{5000, time(), "isEnabled | next 10000"},
		{5000, answer(1), "next 6000"},
		{5200, of(eventCheckGone), "notice the check that could not be ended has gone, after 2.2 s: checks start "
			"again | next 6000"},
		{6000, time(), "isEnabled | next 11000"},
		{6000, answer(1), "start check | next 6500"},
	}},
	{"probes: the part that failed names the failure; its own timeout, not the round's, says timed out",
		{"--timeout", "3s", "--http", "http://admin:s3cret@h/x", "--tcp=db:5432", "--", "check"}, 0, {
		// A URL is named without its password, wherever it is shown.
		{0, start(), "info watching: http://admin@h/x, tcp db:5432 and check every 10 s, timeout 3 s (window 30 s); starting | READY=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, partFailed("http://h/x", "status 503"), "notice not healthy yet: http://h/x: status 503 | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(1), "start check | next 13000"},
		{10010, pass(), "markActive | next 15010"},
		{10010, answer(0), "info healthy: the check passed; heartbeats start | next 20000"},
		{20000, time(), "start check | next 23000"},
		{23000, time(), "TERM check | next 24000"},
		{23000, partFailed("check", "exit status 3"), "keep record | warning failing: check: exit status 3; heartbeats stop | next 30000"},
		{30000, time(), "isEnabled | next 30010"},
		{30000, answer(1), "start check | next 30010"},
		{30010, time(), "next 33000"},
		{32000, partTimedOut("tcp db:5432"), "next 40000"},
		{35000, report(), "notice failing; last check 3.0 s ago, failed: tcp db:5432: timed out after 3 s; last heartbeat 25.0 s ago | next 40000"},
	}},
	{"--start-timeout: never healthy within it ends with 106, monitoring left to the platform",
		{"--timeout", "3s", "--start-timeout", "25s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, fail(), "notice not healthy yet: exit status 3 | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(1), "start check | next 13000"},
		{10010, fail(), "next 20000"},
		{20000, time(), "isEnabled | next 25000"},
		{20000, answer(1), "start check | next 23000"},
		{20010, fail(), "next 25000"},
		{25000, time(), "error not healthy within the start timeout of 25 s (last check failed: exit status 3); stopping; monitoring stays on, but this watcher sent no heartbeat: the platform acts only on heartbeats sent before it, once none has come for its window (30 s) | exit 106 | next never"},
	}},
	{"the start timeout after monitoring was switched on: the platform, with no heartbeat, shows gray",
		{"--enable", "--timeout", "3s", "--start-timeout", "5s", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(0), "enable | next 5000"},
		{0, answer(0), "info watching: check every 10 s, timeout 3 s (window 30 s); monitoring switched on; starting | READY=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, fail(), "notice not healthy yet: exit status 3 | next 5000"},
		{5000, time(), "error not healthy within the start timeout of 5 s (last check failed: exit status 3); stopping; monitoring stays on, but no heartbeat was sent since it was switched on: the platform shows gray and does nothing | exit 106 | next never"},
	}},
	{"the start timeout passes while paused: the check after the pause is heard first, and quoted",
		{"--timeout", "3s", "--start-timeout", "15s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(0), "notice paused: monitoring is off; asking again every 10 s | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(0), "next 20000"},
		{20000, time(), "isEnabled | next 25000"},
		{20000, answer(1), "info resumed: monitoring is on again | start check | next 23000"},
		{20010, fail("db down"), "notice not healthy yet: exit status 3: \"db down\" | error not healthy within the start timeout of 15 s (last check failed: exit status 3: \"db down\"); stopping; monitoring stays on, but no heartbeat was sent since it was switched on: the platform shows gray and does nothing | exit 106 | next never"},
	}},
	{"--metrics-file: written at the start, at each change and tick; a failure said once; removed at a stop",
		{"--timeout", "3s", "--metrics-file", "/m/p.prom", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | write figures | next 5000"},
		{0, notWritten("no such file or directory"), "warning cannot write the metrics file /m/p.prom: no such file or directory; trying again at each tick | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | write figures | next 5010"},
		{10, notWritten("no such file or directory"), "next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | write figures | next 10000"},
		{10, written(), "notice the metrics file /m/p.prom is written again | next 10000"},
		{10000, time(), "start check | write figures | next 13000"},
		{10000, written(), "next 13000"},
		{11000, stop(), "STOPPING=1 | TERM check | next 12000"},
		{11010, pass(), "keep record | notice stopping: heartbeats stop; the platform will see them stop (see --enable) | remove figures | exit 0 | next never"},
	}},
	{"--enable: on at the start if off; an orderly stop switches it off, ending the check first",
		{"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(0), "enable | next 5000"},
		{0, answer(0), "info watching: check every 10 s, timeout 3 s (window 30 s); monitoring switched on; starting | READY=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10100, stop(), "STOPPING=1 | TERM check | next 11100"},
		{11100, time(), "KILL check | disable | next 16100"},
		{11100, answer(0), "notice stopping: monitoring switched off | exit 0 | next never"},
	}},
	{"asked again to stop: the check is ended at once, and monitoring is still switched off",
		{"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(1), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{500, stop(), "STOPPING=1 | TERM check | next 1500"},
		{600, stop(), "KILL check | notice asked again to stop: the check is ended now | disable | next 5600"},
		{600, answer(0), "notice stopping: monitoring switched off | exit 0 | next never"},
	}},
	{"a library that hangs: said once; the watchdog goes on; a stop waits for it, a third stops without it",
		{"--enable", "--timeout", "3s", "check"}, 10000, {
		{0, start(), "isEnabled | WATCHDOG=1 | next 5000"},
		{0, answer(1), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5000"},
		{5000, time(), "WATCHDOG=1 | next 5010"},
		{5010, time(), "warning markActive: the platform's library has not answered for 5.0 s; waiting for it, and no check starts meanwhile | next 10000"},
		{6000, report(), "notice healthy; last check 6.0 s ago, passed; last heartbeat none yet; waiting 6.0 s for the platform's library to answer markActive | next 10000"},
		{7000, stop(), "STOPPING=1 | next 10000"},
		{8000, stop(), "notice asked again to stop: still waiting for the platform's library to answer markActive (asked 8.0 s ago); asked once more, it stops without the answer | next 10000"},
		{9000, answer(0), "notice markActive: the platform's library answered after 9.0 s | disable | next 10000"},
		{10000, time(), "WATCHDOG=1 | next 14000"},
		{14000, time(), "warning disable: the platform's library has not answered for 5.0 s; waiting for it | next 15000"},
		{15000, stop(), "error stopping without the platform's library's answer to disable (asked 6.0 s ago); monitoring stays on: the platform acts once no heartbeat has come for its window (30 s) | exit 108 | next never"},
	}},
	{"--enable, found on (a watcher before this one was killed): still switched off at the stop",
		{"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(1), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{500, stop(), "STOPPING=1 | TERM check | next 1500"},
		{600, fail(), "disable | next 5600"},
		{600, answer(0), "notice stopping: monitoring switched off | exit 0 | next never"},
	}},
	{"--enable, paused (someone switched it off): left alone at the stop", {"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(1), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(0), "notice paused: monitoring is off; asking again every 10 s | next 10000"},
		{5000, stop(), "STOPPING=1 | notice stopping: monitoring is off, as someone else left it | exit 0 | next never"},
	}},
	{"--enable, paused, stopped while asking whether it is on again: on again, it is switched off",
		{"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(1), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(0), "notice paused: monitoring is off; asking again every 10 s | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10001, stop(), "STOPPING=1 | next 15000"},
		{10002, answer(1), "disable | next 15002"},
		{10002, answer(0), "notice stopping: monitoring switched off | exit 0 | next never"},
	}},
	{"--enable: a disable that fails at the stop ends with 108 and says what the platform does",
		{"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(1), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{5000, stop(), "STOPPING=1 | disable | next 10000"},
		{5000, answer(1), "error stopping: disable: Unspecified error occurred; monitoring stays on: the platform acts once no heartbeat has come for its window (30 s) | exit 108 | next never"},
	}},
	{"--enable: an enable refused ends it with the library's result", {"--enable", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(0), "enable | next 5000"},
		{0, answer(2), "error enable: pulsewarden must be run in a Corvane Virtual Machine; stopping | exit 2 (library) | next never"},
	}},
	{"without --enable, a stop leaves monitoring to its owner", {"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{100, stop(), "STOPPING=1 | TERM check | next 1100"},
		{200, pass(), "notice stopping: heartbeats stop; the platform will see them stop (see --enable) | exit 0 | next never"},
	}},
	{"a gap, the machine suspended: a check that ended meanwhile did not time out; said once, with the window "
		"once heartbeats went out",
		{"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		// Its result is fresh: the schedule goes on from it. No heartbeat
		// had gone out: the platform had none to miss.
		{45000, pass(), "notice resumed after the machine was suspended for 40.0 s | markActive | next 50000", 40000},
		{45000, answer(0), "info healthy: the check passed; heartbeats start | next 50000", 40000},
		{50000, time(), "start check | next 53000", 40000},
		{50010, pass(), "markActive | next 55010", 40000},
		{50010, answer(0), "next 60000", 40000},
		{100000, time(), "notice resumed after the machine was suspended for 40.0 s; longer than the window (30 s): the platform may have acted | start check | next 103000", 80000},
	}},
	{"a gap with the check still running gives it its time again", {"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{20000, time(), "notice woke 17.0 s late: the watcher did not run meanwhile (a starved machine, a paused virtual machine or a stopped process) | next 23000"},
		{21000, pass(), "markActive | next 26000"},
	}},
	{"--start-timeout moves on by a gap: the time away is nobody's fault",
		{"--timeout", "3s", "--start-timeout", "15s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{20000, time(), "notice woke 17.0 s late: the watcher did not run meanwhile (a starved machine, a paused virtual machine or a stopped process) | next 23000"},
		{22000, fail(), "notice not healthy yet: exit status 3 | next 30000"},
		{30000, time(), "isEnabled | next 35000"},
	}},
	{"the watchdog: half its period, whatever the interval", {"--interval", "40s", "--timeout", "3s", "--window", "60s", "check"}, 10000, {
		{0, start(), "info watching: check every 40 s, timeout 3 s (window 1 min); starting | READY=1 | WATCHDOG=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5000"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 5000"},
		{5000, time(), "WATCHDOG=1 | next 10000"},
		{10000, time(), "WATCHDOG=1 | next 15000"},
		{15001, time(), "WATCHDOG=1 | next 20001"},
	}},
	{"--pid: a heartbeat each tick while it runs; its end is left to the platform", {"--pid", "42"}, 0, {
		{0, start(), "info watching process 42: a heartbeat every 10 s while it runs (window 30 s) | READY=1 | markActive | next 5000"},
		{0, answer(0), "next 10000"},
		{4000, report(), "notice healthy; process 42 running; last heartbeat 4.0 s ago | next 10000"},
		{10000, time(), "markActive | next 15000"},
		{10000, answer(0), "next 20000"},
		{12000, gone(), "keep record | error process 42 has ended; stopping; monitoring stays on: the platform acts once no heartbeat has come for its window (30 s) | exit 107 | next never"},
	}},
	{"a reload waits for the round under way, saying so in its one line; applied between two rounds it keeps the "
		"counts in a row and the schedule's phase", {"--config", "/etc/w.toml", "--timeout", "3s", "--fall", "2", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10005, asked(), "RELOADING=1 | read config 1 | next 13000"},
		{10005, read(1), "notice configuration read and checked: 2 parts: 1 kept, 1 new, 0 removed; it applies when the "
			"check under way ends | next 13000"},
		{10010, fail(), "markActive | apply config 1 | release config 0 | keep config | answer reload applied | READY=1 | "
			"next 15010"},
		{10010, answer(0), "next 20000"},
		{20000, time(), "start check | next 23000"},
		{20010, fail(), "keep record | warning failing: exit status 3; heartbeats stop | next 30000"},
	}},
	{"files read while a round runs wait from the moment the core hears they check out: a round that ends "
		"between the read and the hearing applies nothing", {"--config", "/etc/w.toml", "--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10005, asked(), "RELOADING=1 | read config 1 | next 13000"},
		{10010, pass(), "markActive | next 15010"},
		{10010, read(1), "apply config 1 | release config 0 | keep config | answer reload applied | notice configuration "
			"reloaded: 2 parts: 1 kept, 1 new, 0 removed | READY=1 | next 15010"},
	}},
	{"files refused while accepted ones wait leave those waiting, with their check's user; read twice before "
		"a round ends, the later take the earlier's place", {"--config", "/etc/w.toml", "--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10001, asked(), "RELOADING=1 | read config 1 | next 13000"},
		{10001, read(1), "notice configuration read and checked: 2 parts: 1 kept, 1 new, 0 removed; it applies when the "
			"check under way ends | next 13000"},
		{10002, asked(), "RELOADING=1 | read config 2 | next 13000"},
		{10002, readRefused(2, "/etc/w.toml:1:8: fall: a whole number from 1 to 1000000 is needed"),
			"release config 2 | answer reload refused: /etc/w.toml:1:8: fall: a whole number from 1 to 1000000 is "
			"needed | warning configuration not reloaded, the one in use stays: /etc/w.toml:1:8: fall: a whole number "
			"from 1 to 1000000 is needed | READY=1 | next 13000"},
		{10003, asked(), "RELOADING=1 | read config 2 | next 13000"},
		{10003, read(2), "release config 1 | notice configuration read and checked: 2 parts: 1 kept, 1 new, 0 removed; it "
			"applies when the check under way ends | next 13000"},
		{10010, pass(), "markActive | apply config 2 | release config 0 | keep config | answer reload applied | READY=1 | "
			"next 15010"},
		{10010, answer(0), "next 20000"},
		{12000, asked(), "RELOADING=1 | read config 0 | next 20000"},
		{12000, read(0), "apply config 0 | release config 2 | keep config | answer reload applied | notice configuration "
			"reloaded: 2 parts: 2 kept, 0 new, 0 removed | READY=1 | next 20000"},
	}},
	{"a reload during the start applies before the first check; what only a start decides is refused whole",
		{"--config", "/etc/w.toml", "--pid", "42"}, 0, {
		{0, start(), "info watching process 42: a heartbeat every 10 s while it runs (window 30 s) | READY=1 | markActive | next 5000"},
		{1, asked(), "RELOADING=1 | read config 1 | next 5000"},
		{1, read(1), "release config 1 | answer reload refused: /etc/w.toml: the process watched changes only with a "
			"start | warning configuration not reloaded, the one in use stays: /etc/w.toml: the process watched changes "
			"only with a start | READY=1 | next 5000"},
	}, {}, false, false, {"--config", "/etc/w.toml", "--pid", "43"}},
	{"a reload during the start, the platform not yet answered: applied at once, no round running",
		{"--config", "/etc/w.toml", "--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{1, asked(), "RELOADING=1 | read config 1 | next 5000"},
		{1, read(1), "apply config 1 | release config 0 | keep config | answer reload applied | notice configuration "
			"reloaded: 2 parts: 1 kept, 1 new, 0 removed | READY=1 | next 5000"},
	}},
	{"what a running watcher keeps as it started is named in the reload's one line, as waiting for a restart: the "
		"stop goes as it began", {"--config", "/etc/w.toml", "--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{2000, asked(), "RELOADING=1 | read config 1 | next 10000"},
		{2000, read(1), "apply config 1 | release config 0 | keep config | answer reload applied; waiting for a restart: "
			"enable, start_timeout, runtime_dir, state_dir | warning configuration reloaded: 1 part: 1 kept, 0 new, 0 "
			"removed; waiting for a restart: enable, start_timeout, runtime_dir, state_dir | READY=1 | next 10000"},
		{3000, stop(), "STOPPING=1 | keep record | notice stopping: heartbeats stop; the platform will see them stop "
			"(see --enable) | exit 0 | next never"},
	}, {}, false, false, {"--config", "/etc/w.toml", "--timeout", "3s", "--enable", "--start-timeout", "1min",
		"--runtime-dir", "/run/w", "--state-dir", "/var/lib/w", "check"}},
	{"with no files, SIGHUP says how things stand, as it always has", {"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{2000, asked(), "RELOADING=1 | answer reload applied | notice healthy; last check 2.0 s ago, passed; last "
			"heartbeat 2.0 s ago | READY=1 | next 10000"},
	}},
	{"a stop under way is not held up by a reload: it is neither applied nor said, and the stop ends as it would",
		{"--config", "/etc/w.toml", "--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10005, asked(), "RELOADING=1 | read config 1 | next 13000"},
		{10005, read(1), "notice configuration read and checked: 2 parts: 1 kept, 1 new, 0 removed; it applies when the "
			"check under way ends | next 13000"},
		{11000, stop(), "STOPPING=1 | TERM check | next 12000"},
		{11001, asked(), "RELOADING=1 | read config 2 | next 12000"},
		{11001, read(2), "release config 1 | next 12000"},
		{11010, pass(), "keep record | notice stopping: heartbeats stop; the platform will see them stop (see --enable) | exit 0 | next never"},
	}},
	{"a new interval counts from the last tick; one already due starts now; a refused reload changes nothing",
		{"--config", "/etc/w.toml", "--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, pass(), "markActive | next 15010"},
		{10010, answer(0), "next 20000"},
		{12000, asked(), "RELOADING=1 | read config 1 | next 20000"},
		{12000, read(1), "apply config 1 | release config 0 | keep config | answer reload applied | notice configuration "
			"reloaded: 2 parts: 1 kept, 1 new, 0 removed | READY=1 | next 15000", 0, 5000},
		{15000, time(), "start check | next 18000"},
		{15010, pass(), "markActive | next 20010"},
		{15010, answer(0), "next 20000"},
		{17000, asked(), "RELOADING=1 | read config 0 | next 20000"},
		{17000, readRefused(0, "/etc/w.toml:1:8: fall: a whole number from 1 to 1000000 is needed"),
			"release config 0 | answer reload refused: /etc/w.toml:1:8: fall: a whole number from 1 to 1000000 is "
			"needed | warning configuration not reloaded, the one in use stays: /etc/w.toml:1:8: fall: a whole number "
			"from 1 to 1000000 is needed | READY=1 | next 20000"},
		{17500, asked(), "RELOADING=1 | read config 0 | next 20000"},
		{17500, read(0), "apply config 0 | release config 1 | keep config | answer reload applied | notice configuration "
			"reloaded: 2 parts: 2 kept, 0 new, 0 removed | READY=1 | start check | next 18500", 0, 1000},
	}},
	{"--max-resets: heartbeats that would stop for the fourth reset in the period hold instead, monitoring "
		"off; checks go on, said as they change; a pass re-arms only once the oldest has left the period",
		{"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(1), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, fail(), "keep record | warning failing: exit status 3; heartbeats stop | hold | disable | next 15010"},
		{10010, answer(0), "take back record | next 20000"},
		{20000, time(), "isEnabled | next 25000"},
		{20000, answer(0), "start check | next 23000"},
		{20010, fail(), "notice held: the check fails: exit status 3 | next 30000"},
		{30000, time(), "isEnabled | next 35000"},
		{30000, answer(0), "start check | next 33000"},
		{30010, pass(), "notice held: the check passes; it re-arms once the oldest reset leaves the period | next 40000"},
		{40000, time(), "isEnabled | next 45000"},
		{40000, answer(0), "start check | next 43000"},
		{40010, pass(), "enable | next 45010"},
		{40010, answer(0), "end hold | notice re-armed: monitoring switched on again; starting | next 50000"},
		{50000, time(), "isEnabled | next 55000"},
		{50000, answer(1), "start check | next 53000"},
		{50010, pass(), "markActive | next 55010"},
		{50010, answer(0), "info healthy: the check passed; heartbeats start | next 60000"},
	}, {35000, 90000, 90000}},
	{"--max-resets: appStateNeedReset that would be the fourth reset is not posted: held instead",
		{"--enable", "--timeout", "3s", "--fall", "5", "--need-reset-after", "1", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(1), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "postAppState appStateOk | next 5010"},
		{10, answer(0), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, fail(), "keep record | hold | disable | next 15010"},
		{10010, answer(0), "take back record | next 20000"},
	}, {90000, 90000, 90000}},
	{"a hold outlives the watcher: started held, monitoring is switched off, never on; the operator's release "
		"re-arms it at once",
		{"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | hold | disable | next 5000"},
		{0, answer(0), "isEnabled | next 5000"},
		{0, answer(0), "start check | next 3000"},
		{10, pass(), "notice held: the check passes; it re-arms once the oldest reset leaves the period | next 10000"},
		{5000, release(), "notice released: the resets counted so far are forgiven | enable | next 10000"},
		{5000, answer(0), "end hold | notice re-armed: monitoring switched on again; starting | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(1), "start check | next 13000"},
		{10010, pass(), "markActive | next 15010"},
		{10010, answer(0), "info healthy: the check passed; heartbeats start | next 20000"},
	}, {90000, 90000, 90000}, true},
	{"held, monitoring switched on by someone else is switched off again, said once with the way to end the hold; "
		"checks go on", {"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | hold | disable | next 5000"},
		{0, answer(0), "isEnabled | next 5000"},
		{0, answer(1), "warning held, but monitoring was switched on meanwhile: switching it off again, as heartbeats "
			"stay stopped and the platform would reset the machine; the hold ends with: pulsewarden watch --release | "
			"disable | start check | next 5000"},
		{0, answer(0), "next 3000"},
		{10, pass(), "notice held: the check passes; it re-arms once the oldest reset leaves the period | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(1), "disable | start check | next 15000"},
	}, {90000, 90000, 90000}, true},
	{"held, a stop leaves monitoring off: the hold outlives the watcher",
		{"--enable", "--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | hold | disable | next 5000"},
		{0, answer(0), "isEnabled | next 5000"},
		{0, answer(0), "start check | next 3000"},
		{10, pass(), "notice held: the check passes; it re-arms once the oldest reset leaves the period | next 10000"},
		{1000, stop(), "STOPPING=1 | notice stopping: held: monitoring stays off until a check passes after the "
			"oldest reset leaves the period, or pulsewarden watch --release | exit 0 | next never"},
	}, {90000, 90000, 90000}, true},
	{"a check that cannot be started is not counted: heartbeats go on, said once, and as an error once it has "
		"lasted longer than the window; said again when it starts", {"--timeout", "3s", "--window", "25s", "check"}, 0, {
		{0, start(), "info watching: check every 10 s, timeout 3 s (window 25 s); starting | READY=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10001, unstarted(), "warning cannot start the check: check: not found; not counted against the application: "
			"heartbeats go on as before; tried again every 10 s | markActive | next 15001"},
		{10001, answer(0), "next 20000"},
		{20000, time(), "start check | next 23000"},
		{20001, unstarted(), "markActive | next 25001"},
		{20001, answer(0), "next 30000"},
		{30000, time(), "start check | next 33000"},
		{30001, unstarted(), "markActive | next 35001"},
		{30001, answer(0), "next 40000"},
		{40000, time(), "start check | next 43000"},
		{40001, unstarted(), "error the check could not be started for 30.0 s, longer than the platform's window (25 s): "
			"nothing is being checked; cannot start the check: check: not found | markActive | next 45001"},
		{40001, answer(0), "next 50000"},
		{50000, time(), "start check | next 53000"},
		{50010, pass(), "notice the check starts again, after 40.0 s in which it could not be started | markActive | next 55010"},
	}},
	{"a probe its own input fails (a headers file opened to others) is not counted either; past --unchecked-limit "
		"each round is a failure", {"--timeout", "3s", "--fall", "2", "--unchecked-limit", "20s", "--http", "http://h/x"}, 0, {
		{0, start(), "info watching: http://h/x every 10 s, timeout 3 s (window 30 s); starting | READY=1 | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10001, ownFault("http://h/x", "/etc/t.headers may be read by others than its owner (mode 644): chmod 600 it"),
			"warning cannot check http://h/x: /etc/t.headers may be read by others than its owner (mode 644): chmod 600 "
			"it; not counted against the application: heartbeats go on as before; tried again every 10 s | markActive "
			"| next 15001"},
		{10001, answer(0), "next 20000"},
		{20000, time(), "start check | next 23000"},
		{20001, ownFault("http://h/x", "gone"), "markActive | next 25001"},
		{20001, answer(0), "next 30000"},
		{30000, time(), "start check | next 33000"},
		{30001, ownFault("http://h/x", "gone"), "error nothing could be checked for 20 s (--unchecked-limit): each "
			"round counts as failed from now on; cannot check http://h/x: gone | markActive | next 35001"},
		{30001, answer(0), "next 40000"},
		{40000, time(), "start check | next 43000"},
		{40001, ownFault("http://h/x", "gone"), "keep record | warning failing: nothing checked for 20 s: cannot check "
			"http://h/x: gone; heartbeats stop | next 50000"},
		{40002, wrote(fileRecord, "/var/w/resets.record"), "next 50000"},
		{50000, time(), "isEnabled | next 50001"},
		{50000, answer(1), "start check | next 50001"},
		{50010, pass(), "info http://h/x is checked again, after 40.0 s in which it could not be | markActive | next 50001"},
		{50010, answer(0), "take back record | info healthy again: 1 passing check; heartbeats start again | next 60000"},
	}},
	{"a check that cannot be started neither counts toward --fall and --need-reset-after nor breaks a run of "
		"failures; while failing, heartbeats stay stopped", {"--timeout", "3s", "--fall", "2", "--need-reset-after", "3", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "postAppState appStateOk | next 5010"},
		{10, answer(0), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, fail(), "markActive | next 15010"},
		{10010, answer(0), "next 20000"},
		{20000, time(), "start check | next 23000"},
		{20010, unstarted(), "warning cannot start the check: check: not found; not counted against the application: "
			"heartbeats go on as before; tried again every 10 s | markActive | next 25010"},
		{20010, answer(0), "next 30000"},
		{30000, time(), "start check | next 33000"},
		{30010, fail(), "info the check starts again, after 10.0 s in which it could not be started | keep record | "
			"warning failing: exit status 3; heartbeats stop | next 40000"},
		{40000, time(), "isEnabled | next 40010"},
		{40000, answer(1), "start check | next 40010"},
		{40010, unstarted(), "warning cannot start the check: check: not found; not counted against the application: "
			"heartbeats stay stopped as before; tried again every 10 s | next 40010"},
		{40010, time(), "next 50000"},
		{50000, time(), "isEnabled | next 55000"},
		{50000, answer(1), "start check | next 53000"},
		{50010, fail(), "info the check starts again, after 10.0 s in which it could not be started | keep record | "
			"next 53010"},
		{50011, wrote(fileRecord, "/var/w/resets.record"), "postAppState appStateNeedReset | next 55011"},
	}},
	{"a check that cannot be started is named at the start timeout", {"--timeout", "3s", "--start-timeout", "15s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{1, unstarted(), "warning cannot start the check: check: not found; not counted against the application: no "
			"heartbeat until a check has run; tried again every 10 s | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(1), "start check | next 13000"},
		{10001, unstarted(), "next 15000"},
		{15000, time(), "error not healthy within the start timeout of 15 s (last check none yet; cannot start the "
			"check: check: not found); stopping; monitoring stays on, but this watcher sent no heartbeat: the platform "
			"acts only on heartbeats sent before it, once none has come for its window (30 s) | exit 106 | next never"},
	}},
	{"--enable, stopped before the platform said whether monitoring is on: found off, it is left off, as it was",
		{"--enable", "check"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{1, stop(), "STOPPING=1 | next 5000"},
		{2, answer(0), "notice stopping: monitoring was off already | exit 0 | next never"},
	}},
	{"a reset record an earlier watcher of this boot kept is taken back by the first heartbeat the platform takes, "
		"not before", {"--timeout", "3s", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, fail(), "notice not healthy yet: exit status 3 | next 10000"},
		{10000, time(), "isEnabled | next 15000"},
		{10000, answer(1), "start check | next 13000"},
		{10010, pass(), "markActive | next 15010"},
		{10010, answer(0), "take back record | info healthy: the check passed; heartbeats start | next 20000"},
	}, {}, false, true},
	{"a watcher that starts healthy (--pid) takes back a reset record an earlier watcher of this boot kept, by its "
		"first heartbeat: it never stands for heartbeats that went out", {"--pid", "1", "--enable"}, 0, {
		{0, start(), "isEnabled | next 5000"},
		{0, answer(1), "info watching process 1: a heartbeat every 10 s while it runs (window 30 s) | READY=1 | "
			"markActive | next 5000"},
		{0, answer(0), "take back record | next 10000"},
		{10000, time(), "markActive | next 15000"},
		{10000, answer(0), "next 20000"},
	}, {}, false, true},
	{"no reset record can be kept at all: said at the start, an error under --max-resets, for the brake cannot "
		"count; appStateNeedReset is then posted at once", {"--enable", "--need-reset-after", "1", "check"}, 0, {
		{0, start(), "error cannot make /var/w: No space left on device; the brake cannot count resets "
			"(--max-resets), and a reset would not be explained after the reboot | isEnabled | next 5000"},
		{0, answer(1), "info watching: check every 10 s, timeout 5 s (window 30 s); starting | READY=1 | isEnabled "
			"| next 5000"},
		{0, answer(1), "start check | next 5000"},
		{10, pass(), "postAppState appStateOk | next 5010"},
		{10, answer(0), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 15000"},
		{10010, fail(), "keep record | warning failing: exit status 3; heartbeats stop | keep record | "
			"postAppState appStateNeedReset | next 15010"},
	}, {}, false, false, {}, "cannot make /var/w: No space left on device"},
	{"stopped while appStateNeedReset waits for its record, it is posted at once", {"--timeout", "3s", "--need-reset-after", "1", "check"}, 0, {
		{0, start(), std::string(startLine) + " | isEnabled | next 5000"},
		{0, answer(1), "start check | next 3000"},
		{10, pass(), "postAppState appStateOk | next 5010"},
		{10, answer(0), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 13000"},
		{10010, fail(), "keep record | warning failing: exit status 3; heartbeats stop | keep record | next 13010"},
		{10011, stop(), "STOPPING=1 | postAppState appStateNeedReset | next 15011"},
		{10012, answer(0), "notice stopping: heartbeats stop; the platform will see them stop (see --enable) | exit 0 "
			"| next never"},
	}},
	{"a heartbeat asked before the record was kept, and taken after, moves its last heartbeat on rather than take "
		"it back", {"--timeout", "15s", "check"}, 0, {
		{0, start(), "info watching: check every 10 s, timeout 15 s (window 30 s); starting | READY=1 | isEnabled | "
			"next 5000"},
		{0, answer(1), "start check | next 10000"},
		{10, pass(), "markActive | next 5010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000"},
		{10000, time(), "start check | next 20000"},
		{20000, time(), "warning the check is still running at its next start: starts are skipped until it ends | "
			"markActive | next 25000"},
		{20010, fail(), "keep record | warning failing: exit status 3; heartbeats stop | next 25000"},
		{20020, answer(0), "keep record | next 30000"},
	}},
};

// A core set up from watch's options, as the command line gives them; its
// check points into `argv`, which must outlive it.
testing::AssertionResult parsed(const std::vector<const char *> &args, std::vector<char *> *argv, WatchOptions *options)
{
	for (const char *a : args)
		argv->push_back(const_cast<char *>(a));
	argv->push_back(nullptr);
	bool silent = false;
	char why[512];
	if (parseWatchOptions(static_cast<int>(args.size()), argv->data(), options, &silent, why,
		    sizeof why) != watchUsable)
		return testing::AssertionFailure() << why;
	return testing::AssertionSuccess();
}

// The resets counted toward --max-resets, each leaving its period at a time (ms).
void countResets(ResetsCounted *r, const std::vector<int64_t> &leaveMs, bool held)
{
	*r = ResetsCounted{};
	for (int64_t ms : leaveMs)
		r->leaves[r->count++] = ms * nsPerMs;
	snprintf(r->said, sizeof r->said, "%d counted", r->count);
	r->heldAtStart = held;
}

// Each beat at its time; the files a reload reads are the row's, and
// the metrics file's events name its path.
void play(const Row &row, bool files, const std::vector<std::string> *expected = nullptr)
{
	WatchCore core = {};
	std::vector<char *> argv;
	ASSERT_TRUE(parsed(row.args, &argv, &core.setting.options)) << row.story;
	std::vector<const char *> readArgs = row.reloadArgs.empty() ? row.args : row.reloadArgs;
	if (row.reloadArgs.empty() && strcmp(row.args[0], "--config") == 0) {
		readArgs.assign(row.args.begin(), row.args.end() - 1);
		readArgs.insert(readArgs.end(), {"--tcp", "db:5432", row.args.back()});
	}
	WatchOptions read = {};
	std::vector<char *> readArgv;
	ASSERT_TRUE(parsed(readArgs, &readArgv, &read)) << row.story;
	core.setting.watchdogNs = row.watchdogMs * nsPerMs;
	countResets(&core.setting.resets, row.resetsLeaveMs, row.heldAtStart);
	core.setting.recordStands = row.recordStands;
	snprintf(core.setting.recordUnkept, sizeof core.setting.recordUnkept, "%s", row.unkept);
	ResetsCounted forgiven;
	countResets(&forgiven, {}, false);
	for (size_t i = 0; i < row.beats.size(); i++) {
		const Beat &beat = row.beats[i];
		Event e = beat.event;
		if (beat.intervalMs)
			read.intervalNs = beat.intervalMs * nsPerMs;
		if (e.kind == eventConfigRead && !e.why)
			e.options = &read;
		if (e.kind == eventWritten && !e.path)
			e.path = core.setting.options.metricsFile;
		if (e.kind == eventRelease)
			e.resets = &forgiven;
		Step step = watchStep(&core, e, beat.ms * nsPerMs, beat.asleepMs * nsPerMs, 1e9 + beat.ms / 1e3);
		EXPECT_EQ(render(step, files), expected ? (*expected)[i] : beat.expected) << row.story << ", at " << beat.ms
			<< " ms";
		// The stories' status file is written as soon as asked; the files'
		// rows say when.
		for (size_t a = 0; !files && a < step.count; a++)
			if (step.actions[a].kind == actWriteStatus)
				watchStep(&core, wrote(fileStatus, "/run/w/status"), beat.ms * nsPerMs, beat.asleepMs * nsPerMs,
					1e9 + beat.ms / 1e3);
	}
}

TEST(WatchCore, EachStoryActsAsItSays)
{
	for (const Row &row : rows)
		play(row, false);
}

// The brake that cannot count is a figure too, from the start, or from a
// write of the record that fails until one works again.
TEST(WatchCore, ARecordThatCannotBeKeptIsAFigure)
{
	for (const char *unkept : {"no state directory", ""}) {
		WatchCore core = {};
		std::vector<char *> argv;
		ASSERT_TRUE(parsed({"--enable", "check"}, &argv, &core.setting.options));
		snprintf(core.setting.recordUnkept, sizeof core.setting.recordUnkept, "%s", unkept);
		watchStep(&core, start(), 0);
		EXPECT_EQ(watchView(&core).figures.recordUnkept, unkept[0] != '\0');
		watchStep(&core, wrote(fileRecord, "/var/w/resets.record", "input/output error"), 1);
		EXPECT_TRUE(watchView(&core).figures.recordUnkept);
		watchStep(&core, wrote(fileRecord, "/var/w/resets.record"), 2);
		EXPECT_EQ(watchView(&core).figures.recordUnkept, unkept[0] != '\0');
	}
	static char text[1 << 16];
	WatchFigures f = {};
	f.recordUnkept = true;
	ASSERT_TRUE(formatMetrics(WatchOptions{}, stateHealthy, f, 0, "1", text, sizeof text));
	EXPECT_NE(strstr(text, "\npulsewarden_reset_record_unkept 1\n"), nullptr);
}

// Files read as a tick falls due: the check that step starts runs by them,
// with the parts they name, never by the ones they replace.
TEST(WatchCore, ACheckStartedInTheStepThatAppliesFilesRunsByThem)
{
	WatchCore core = {};
	std::vector<char *> argv, readArgv;
	ASSERT_TRUE(parsed({"--config", "/etc/w.toml", "check"}, &argv, &core.setting.options));
	WatchOptions files = {};
	ASSERT_TRUE(parsed({"--config", "/etc/w.toml", "--tcp", "db:5432", "check"}, &readArgv, &files));
	for (const auto &[ms, event] : std::vector<std::pair<int64_t, Event>>{
		     {0, start()}, {0, answer(1)}, {10, pass()}, {10, answer(0)}, {9999, asked()}})
		watchStep(&core, event, ms * nsPerMs);
	Event e = read(1);
	e.options = &files;
	std::string step = render(watchStep(&core, e, 10000 * nsPerMs));
	EXPECT_LT(step.find("apply config 1"), step.find("start check")) << step;
	EXPECT_NE(step.find("start check"), std::string::npos) << step;
	const WatchView &v = watchView(&core);
	EXPECT_EQ(v.options->probeCount, 1);
	EXPECT_EQ(v.status.partCount, 2);
}

// The files the start read are let go at a reload and their slot read
// into again: what only a start decides stays the core's own, unchanged.
TEST(WatchCore, WhatOnlyAStartDecidesOutlivesTheSlotItWasReadInto)
{
	WatchCore core = {};
	std::vector<char *> argv, readArgv;
	std::vector<std::string> slot = {"--config", "/etc/w.toml", "--runtime-dir", "/run/w", "--state-dir", "/var/lib/w",
		"check"};
	std::vector<const char *> line;
	for (std::string &word : slot)
		line.push_back(word.data());
	ASSERT_TRUE(parsed(line, &argv, &core.setting.options));
	WatchOptions files = {};
	ASSERT_TRUE(parsed({"--config", "/etc/w.toml", "--runtime-dir", "/run/w", "--state-dir", "/var/lib/w", "check"},
		&readArgv, &files));
	watchStep(&core, start(), 0);
	for (std::string &word : slot)
		std::fill(word.begin(), word.end(), 'x');
	watchStep(&core, asked(), 1);
	Event e = read(1);
	e.options = &files;
	std::string step = render(watchStep(&core, e, 2));
	EXPECT_EQ(step.find("waiting for a restart"), std::string::npos) << step;
	EXPECT_STREQ(watchView(&core).options->runtimeDir, "/run/w");
}

// The files' cadence, one row a story: only the lines and what is written
// (the status file, STATUS=, the reset record's "still seen") are shown,
// then the deadline and the status's own.
const Row fileRows[] = {
	{"the status is written at once, before the lines, when its summary changes; else at the tick's own wake, once "
		"a tick, and by an interval and a half whatever runs or hangs, never by a wake of its own while ticks come; "
		"STATUS= tells the summary when it is new or a line was told since",
		{"--timeout", "3s", "check"}, 0, {
		{0, start(), "info watching: check every 10 s, timeout 3 s (window 30 s); starting | STATUS=starting: no check "
			"yet | write status | next 5000, status by 15000"},
		{0, answer(1), "next 3000, status by 15000"},
		{0, time(), "next 3000, status by 15000"},
		{10, pass(), "write status | next 5010, status by 15010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000, status by 15010"},
		{10, time(), "STATUS=healthy | next 10000, status by 15010"},
		{5000, time(), "next 10000, status by 15010"},
		{10000, time(), "write status | next 13000, status by 25000"},
		{10010, pass(), "next 15010, status by 25000"},
		{10010, time(), "next 15010, status by 25000"},
		{15010, time(), "warning markActive: the platform's library has not answered for 5.0 s; waiting for it, and no check "
			"starts meanwhile | STATUS=healthy | write status | next never, status by 30010"},
		{25010, time(), "write status | next never, status by 40010"},
		{26000, stop(), "next never, status by 40010"},
		{26001, answer(0), "notice markActive: the platform's library answered after 16.0 s | notice stopping: "
			"heartbeats stop; the platform will see them stop (see --enable) | write status | next never, status never"},
	}},
	{"a file that cannot be written is said once, and once more when it is written again",
		{"--timeout", "3s", "check"}, 0, {
		{0, start(), "info watching: check every 10 s, timeout 3 s (window 30 s); starting | STATUS=starting: no check "
			"yet | write status | next 5000, status by 15000"},
		{1, wrote(fileStatus, "/run/w/status", "no space left on device"), "warning cannot write the status file /run/w/status: no space left on device; trying again at each "
			"tick | next 5000, status by 15000"},
		{1, wrote(fileRecord, "/var/w/resets.record", "read-only file system"), "warning cannot keep the reset record /var/w/resets.record: read-only file system; a reset would not "
			"be explained after the reboot | next 5000, status by 15000"},
		{1, time(), "STATUS=starting: no check yet | next 5000, status by 15000"},
		{1, wrote(fileStatus, "/run/w/status", "no space left on device"), "next 5000, status by 15000"},
		{2, wrote(fileStatus, "/run/w/status"), "notice the status file /run/w/status is written again | next 5000, status by 15000"},
		{2, answer(1), "next 3002, status by 15000"},
		{2, time(), "STATUS=starting: no check yet | next 3002, status by 15000"},
		{3, wrote(fileRecord, "/var/w/resets.record"), "notice the reset record /var/w/resets.record is kept again | next 3002, status by 15000"},
	}},
	{"while a reset record an earlier watcher of this boot kept stands, the watcher is seen running once, at the "
		"first wake's end from when that shows the boot outlived the window less an interval; never at each tick",
		{"--timeout", "3s", "check"}, 0, {
		{0, start(), "info watching: check every 10 s, timeout 3 s (window 30 s); starting | STATUS=starting: no check "
			"yet | write status | next 5000, status by 15000"},
		{0, answer(1), "next 3000, status by 15000"},
		{10, fail(), "write status | notice not healthy yet: exit status 3 | next 10000, status by 15010"},
		{10, time(), "STATUS=starting: not healthy yet: exit status 3 | next 10000, status by 15010"},
		{10000, time(), "write status | next 15000, status by 25000"},
		{10000, answer(1), "next 13000, status by 25000"},
		{10010, fail(), "next 20000, status by 25000"},
		{10010, time(), "next 20000, status by 25000"},
		{20000, time(), "write status | record seen | next 25000, status by 35000"},
		{20000, answer(1), "next 23000, status by 35000"},
		{20010, fail(), "next 30000, status by 35000"},
		{20010, time(), "next 30000, status by 35000"},
		{30000, time(), "write status | next 35000, status by 45000"},
	}, {}, false, true},
	{"a write that has not returned for longer than the window is said as the file's, once, and its end too",
		{"--timeout", "3s", "--window", "15s", "check"}, 0, {
		{0, start(), "info watching: check every 10 s, timeout 3 s (window 15 s); starting | STATUS=starting: no check "
			"yet | write status | next 5000, status by 15000"},
		{0, answer(1), "next 3000, status by 15000"},
		{10, fail(), "write status | notice not healthy yet: exit status 3 | next 10000, status by 15010"},
		{10000, time(), "STATUS=starting: not healthy yet: exit status 3 | write status | next 15000, status by 25000"},
		{10000, answer(1), "next 13000, status by 25000"},
		{16000, time(), "error the status file has not been written for 16.0 s, longer than the platform's window (15 s): "
			"its write has not returned (a file system that does not answer?); heartbeats go on | write status | "
			"next 17000, status by 31000"},
		{20000, time(), "next 21000, status by 31000"},
		{20001, wrote(fileStatus, "/run/w/status"), "notice the status file /run/w/status is written again | next 21000, status by 31000"},
	}},
	{"a reload that lengthens the interval writes the status at that wake's end: a reader judges its age by the "
		"interval it shows", {"--config", "/etc/w.toml", "--timeout", "3s", "check"}, 0, {
		{0, start(), "info watching: check every 10 s, timeout 3 s (window 30 s); starting | STATUS=starting: no check "
			"yet | write status | next 5000, status by 15000"},
		{0, answer(1), "next 3000, status by 15000"},
		{10, pass(), "write status | next 5010, status by 15010"},
		{10, answer(0), "info healthy: the check passed; heartbeats start | next 10000, status by 15010"},
		{3000, asked(), "next 10000, status by 15010"},
		{3000, read(1), "notice configuration reloaded: 1 part: 1 kept, 0 new, 0 removed | next 60000, status by 90010"},
		{3000, time(), "STATUS=healthy | write status | next 60000, status by 93000"},
		{4000, time(), "next 60000, status by 93000"},
	}, {}, false, false, {"--config", "/etc/w.toml", "--interval", "60s", "--timeout", "3s", "check"}},
};

TEST(WatchCore, TheFilesAreWrittenAsWhatTheyShowChanges)
{
	for (const Row &row : fileRows)
		play(row, true);
}

// The state in a line, as STATUS= and pulsewarden status carry it: the
// counts in a row against what they lead to.
TEST(WatchCore, ItsStateInALineCarriesTheCountsInARow)
{
	const std::vector<std::pair<int64_t, Event>> healthy = {{0, start()}, {0, answer(1)}, {10, pass()}, {10, answer(0)}};
	// With --need-reset-after, the first pass takes back a reset an earlier
	// watcher may have posted: one answer more.
	auto then = [&](std::vector<std::pair<int64_t, Event>> more, bool posted = false) {
		std::vector<std::pair<int64_t, Event>> all = healthy;
		if (posted)
			all.emplace_back(10, answer(0));
		all.insert(all.end(), more.begin(), more.end());
		return all;
	};
	struct {
		const char *story;
		std::vector<const char *> args;
		std::vector<std::pair<int64_t, Event>> events;
		const char *summary;
	} rows[] = {
		{"before any check", {"check"}, {{0, start()}}, "starting: no check yet"},
		{"not healthy yet", {"check"}, {{0, start()}, {0, answer(1)}, {10, fail("db down")}},
			"starting: not healthy yet: exit status 3: \"db down\""},
		{"healthy", {"check"}, healthy, "healthy"},
		{"fewer failures than --fall", {"--fall", "3", "check"}, then({{10000, time()}, {10010, fail()}}),
			"healthy: 1 of 3 failed; exit status 3"},
		{"failing, counted toward --need-reset-after", {"--fall", "2", "--need-reset-after", "3", "check"},
			then({{10000, time()}, {10010, fail()}, {10010, answer(0)}, {20000, time()}, {20010, fail()}}, true),
			"failing: 2 of 3; exit status 3"},
		{"failing, with no reset to come", {"check"}, then({{10000, time()}, {10010, fail()}}),
			"failing: 1 in a row; exit status 3"},
		{"the reset posted", {"--need-reset-after", "1", "check"},
			then({{10000, time()}, {10010, fail()}, {10011, wrote(fileRecord, "/var/w/resets.record")},
				{10011, answer(0)}}, true),
			"failing: 1 in a row, appStateNeedReset posted; exit status 3"},
		{"passing, fewer than --rise", {"--rise", "2", "check"},
			then({{10000, time()}, {10010, fail()}, {20000, time()}, {20000, answer(1)}, {20010, pass()}}),
			"failing: 1 of 2 passed to be healthy again"},
		{"monitoring switched off", {"check"}, {{0, start()}, {0, answer(0)}}, "paused: monitoring is off"},
		{"the check cannot be started", {"check"}, then({{10000, time()}, {10010, unstarted()}}),
			"healthy; cannot start the check: check: not found"},
		{"held", {"--enable", "check"}, {{0, start()}, {0, answer(0)}, {0, answer(0)}, {10, fail()}},
			"held: 3 resets within 1 d; monitoring off; the last check failed"},
	};
	for (const auto &row : rows) {
		WatchCore core = {};
		std::vector<char *> argv;
		ASSERT_TRUE(parsed(row.args, &argv, &core.setting.options)) << row.story;
		countResets(&core.setting.resets, {INT64_MAX / nsPerMs, INT64_MAX / nsPerMs, INT64_MAX / nsPerMs},
			row.args.size() > 1);
		for (const auto &[ms, event] : row.events)
			watchStep(&core, event, ms * nsPerMs);
		char line[512];
		statusSummary(core, line, sizeof line);
		EXPECT_STREQ(line, row.summary) << row.story;
	}
}

// The last status says how the watcher ended and whether monitoring was
// switched off, as the stop decided: a reader after an orderly stop must
// not find "monitoring on" where the stop switched it off.
TEST(WatchCore, ItsLastStatusSaysHowItEnded)
{
	// Healthy, a heartbeat taken; with --enable it was on at the start.
	const std::vector<std::pair<int64_t, Event>> healthy = {{0, start()}, {0, answer(1)}, {0, answer(1)}, {10, pass()},
		{10, answer(0)}};
	auto then = [&](std::vector<std::pair<int64_t, Event>> more) {
		std::vector<std::pair<int64_t, Event>> all = healthy;
		all.insert(all.end(), more.begin(), more.end());
		return all;
	};
	struct {
		const char *story;
		std::vector<const char *> args;
		std::vector<std::pair<int64_t, Event>> events;
		const char *summary;
		const char *monitoring;
	} rows[] = {
		{"--enable: switched off", {"--enable", "check"}, then({{500, stop()}, {500, answer(0)}}),
			"stopped, monitoring switched off", "off"},
		{"--enable: found off already", {"--enable", "check"}, then({{500, stop()}, {500, answer(3)}}),
			"stopped, monitoring was off already", "off"},
		{"--enable, paused by someone else: left as they set it", {"--enable", "check"},
			{{0, start()}, {0, answer(1)}, {0, answer(0)}, {500, stop()}},
			"stopped, monitoring left off, as someone else set it", "off"},
		{"--enable, the library refuses to switch it off", {"--enable", "check"}, then({{500, stop()}, {500, answer(1)}}),
			"stopped, but monitoring could not be switched off: disable: Unspecified error occurred; monitoring stays "
			"on: the platform acts once no heartbeat has come for its window (30 s)", "on"},
		{"without --enable: left on", {"check"}, {{0, start()}, {0, answer(1)}, {10, pass()}, {10, answer(0)},
			{500, stop()}}, "stopped, monitoring left on: the platform will see heartbeats stop (see --enable)", "on"},
		{"--enable, found off, the library refuses to switch it on: it stays off", {"--enable", "check"},
			{{0, start()}, {0, answer(0)}, {0, answer(1)}}, "stopped: enable: Unspecified error occurred", "off"},
		{"ended on a failure of its own: said as the line said it", {"--pid", "42"},
			{{0, start()}, {0, answer(0)}, {500, gone()}}, "stopped: process 42 has ended; monitoring stays on: the "
			"platform acts once no heartbeat has come for its window (30 s)", "on"},
	};
	for (const auto &row : rows) {
		WatchCore core = {};
		std::vector<char *> argv;
		ASSERT_TRUE(parsed(row.args, &argv, &core.setting.options)) << row.story;
		countResets(&core.setting.resets, {}, false);
		for (const auto &[ms, event] : row.events)
			watchStep(&core, event, ms * nsPerMs, 0, 1e9 + ms / 1e3);
		ASSERT_TRUE(core.stop.ended) << row.story;
		const WatchStatus &st = watchView(&core).status;
		EXPECT_STREQ(st.summary, row.summary) << row.story;
		EXPECT_STREQ(st.state, "stopped") << row.story;
		EXPECT_STREQ(st.monitoring, row.monitoring) << row.story;
		EXPECT_EQ(st.sinceS, 1e9 + row.events.back().first / 1e3) << row.story;
		EXPECT_EQ(st.nextCheckS, 0) << row.story;
	}
}

// --file's age across steps of the wall clock: looks at the file, one a
// row, each with the file's modification time and the wall clock's age
// of it then (in s), the boot clock, and the age judged.
TEST(FileAge, AStepOfTheWallClockIsNotTakenForTheFilesAge)
{
	struct Look {
		const char *story;
		int64_t mtime, wallAge, boot, age;
	};
	const Look looks[] = {
		{"first seen: as the wall clock says", 1000, 5, 100, 5},
		{"unchanged: aged by the boot clock", 1000, 7, 102, 7},
		{"unchanged, the wall clock an hour forward: still by the boot clock", 1000, 3607, 102, 7},
		{"written since, the wall clock an hour forward: no older than the last look", 4600, 3601, 104, 2},
		{"unchanged again: aged by the boot clock from then", 4600, 3603, 105, 3},
		{"written since, the clock an hour back: a time to come is new", 4700, -3500, 106, 0},
		{"set back to an old time: as the wall clock says", 10, 90, 107, 90},
		{"unchanged, the file never written again: it ages", 10, 91, 200, 183},
	};
	FileLook look = {};
	for (const Look &l : looks)
		EXPECT_EQ(fileAgeNs(&look, l.mtime * nsPerS, l.wallAge * nsPerS, l.boot * nsPerS), l.age * nsPerS) << l.story;
}

} // namespace
