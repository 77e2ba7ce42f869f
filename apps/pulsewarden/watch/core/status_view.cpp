// pulsewarden status's verdict and its JSON; see status_view.h.
#include "status_view.h"

#include "text.h"

#include <cstdio>
#include <cstring>

// A status this old means a watcher that does not run, whatever it says:
// it is written at every tick.
static const int intervalsFresh = 3;

// What the file says of a watcher that runs, or, for a watcher that
// cannot be seen, may run.
static StatusAnswer judgeState(const WatchStatus *s, long holder, const char *dir, double nowS, char *why,
	size_t size)
{
	why[0] = '\0';
	if (!holder) {
		snprintf(why, size, "a watcher holds %s and has not written its process id yet: starting", dir);
		return answerFailing;
	}
	if (!s || s->pid != holder) {
		snprintf(why, size, "process %ld holds %s and has written no status yet: starting", holder, dir);
		return answerFailing;
	}
	if (strcmp(s->state, "stopped") == 0) {
		snprintf(why, size, "process %ld is ending: its status says it stopped", s->pid);
		return answerNone;
	}
	double age = nowS - s->updatedS;
	if (age > intervalsFresh * s->intervalS) {
		snprintf(why, size, "process %ld is alive, but its status was last written %.0f s ago, more than %d "
			"intervals (%g s): it does not run (stopped, or wedged)", s->pid, age, intervalsFresh, s->intervalS);
		return answerNone;
	}
	if (s->unchecked[0] && strcmp(s->state, "paused") != 0 && strcmp(s->state, "held") != 0) {
		snprintf(why, size, "nothing is being checked: %s", s->unchecked);
		return answerUnchecked;
	}
	if (strcmp(s->state, "healthy") == 0)
		return answerHealthy;
	if (strcmp(s->state, "paused") == 0 || strcmp(s->state, "held") == 0)
		return answerPaused;
	return answerFailing;
}

StatusAnswer judgeStatus(const WatchStatus *s, const char *unread, const Liveness &seen, const char *dir, double nowS,
	char *why, size_t size)
{
	why[0] = '\0';
	double age = s ? nowS - s->updatedS : 0;
	// Its last status says how it ended, whoever looks.
	bool stopped = s && strcmp(s->state, "stopped") == 0;
	if (seen.alive == aliveNo || (seen.alive == aliveUntold && stopped)) {
		if (s)
			snprintf(why, size, "no watcher runs in %s: process %ld %s (its status was last written %.0f s ago)", dir,
				s->pid, stopped ? "stopped" : "has ended", age);
		else
			snprintf(why, size, "no watcher runs in %s", dir);
		return answerNone;
	}
	if (!s && unread) {
		if (seen.alive == aliveYes)
			snprintf(why, size, "process %ld holds %s, but its status cannot be read: %s", seen.pid, dir, unread);
		else
			snprintf(why, size, "cannot tell whether a watcher runs in %s: %s; its status cannot be read: %s", dir,
				seen.why, unread);
		return answerNone;
	}
	if (seen.alive == aliveYes)
		return judgeState(s, seen.pid, dir, nowS, why, size);
	// Neither the lock nor the process can be looked at: never "ended".
	if (!s) {
		snprintf(why, size, "cannot tell whether a watcher runs in %s: %s", dir, seen.why);
		return answerNone;
	}
	if (age > intervalsFresh * s->intervalS) {
		snprintf(why, size, "cannot tell whether process %ld runs (%s), but its status was last written %.0f s ago, "
			"more than %d intervals (%g s): it does not run (stopped, or wedged)", s->pid, seen.why, age,
			intervalsFresh, s->intervalS);
		return answerNone;
	}
	// Written within three intervals: it ran then, and its status says how.
	char state[700];
	StatusAnswer answer = judgeState(s, s->pid, dir, nowS, state, sizeof state);
	snprintf(why, size, "cannot tell whether process %ld runs (%s): judged by its status, written %.0f s ago%s%s",
		s->pid, seen.why, age, state[0] ? "; " : "", state);
	return answer;
}

bool machineRead(const Liveness &own, bool ownThere, const Liveness &machine, bool machineThere)
{
	if (own.alive == aliveYes || (machine.alive == aliveNo && !machineThere))
		return false;
	if (own.alive == aliveNo && !ownThere)
		return true;
	return own.alive == aliveNo && machine.alive != aliveNo;
}

static void addTime(Text *t, const char *key, double unixS)
{
	if (unixS > 0)
		add(t, ",\"%s\":%.3f", key, unixS);
	else
		add(t, ",\"%s\":null", key);
}

static void addString(Text *t, const char *key, const char *value)
{
	add(t, ",\"%s\":", key);
	addPrintable(t, value);
}

static const char *const answerNames[] = {"healthy", "failing", "paused", "none", "unchecked"};

int statusExit(StatusAnswer answer)
{
	return answer == answerUnchecked ? answerFailing : answer;
}

bool statusJson(const WatchStatus *s, StatusAnswer answer, const char *why, const Liveness &seen, const char *dir,
	char *text, size_t size)
{
	Text t = textIn(text, size);
	add(&t, "{\"version\":1");
	addString(&t, "answer", answerNames[answer]);
	addString(&t, "why", why);
	addString(&t, "runtime_dir", dir);
	const char *untold = seen.alive == aliveUntold ? "null" : nullptr;
	if (!s) {
		if (seen.pid)
			add(&t, ",\"pid\":%ld,\"alive\":%s", seen.pid, untold ? untold : "true");
		else
			add(&t, ",\"pid\":null,\"alive\":%s", untold ? untold : "false");
		add(&t, ",\"state\":\"none\",\"parts\":[]}\n");
		return t.fits;
	}
	// A process it names that ended, or another's that holds the lock now,
	// is not its watcher alive.
	bool alive = seen.alive == aliveYes && seen.pid == s->pid && strcmp(s->state, "stopped") != 0;
	add(&t, ",\"pid\":%ld,\"alive\":%s", s->pid, untold && strcmp(s->state, "stopped") != 0 ? untold
		: alive ? "true" : "false");
	addString(&t, "state", s->state);
	addTime(&t, "since", s->sinceS);
	addTime(&t, "updated", s->updatedS);
	add(&t, ",\"failures_in_a_row\":%d,\"passes_in_a_row\":%d,\"fall\":%d,\"rise\":%d,\"need_reset_after\":%d",
		s->failures, s->passes, s->fall, s->rise, s->needResetAfter);
	add(&t, ",\"interval\":%.3f", s->intervalS);
	addTime(&t, "next_check", s->nextCheckS);
	addTime(&t, "last_heartbeat", s->lastHeartbeatS);
	add(&t, ",\"reset_requested\":%s", s->resetRequested ? "true" : "false");
	addString(&t, "monitoring", s->monitoring);
	addString(&t, "config", s->config);
	addString(&t, "summary", s->summary);
	addString(&t, "unchecked", s->unchecked);
	add(&t, ",\"resets_total\":%lld,\"resets\":[", s->resetsTotal);
	for (int i = 0; i < s->resetCount; i++) {
		add(&t, "%s{\"time\":%.3f,\"why\":", i ? "," : "", s->resets[i].atS);
		addPrintable(&t, s->resets[i].why);
		add(&t, "}");
	}
	add(&t, "],\"parts\":[");
	for (int i = 0; i < s->partCount; i++) {
		const PartHistory &p = s->parts[i];
		add(&t, "%s{\"name\":", i ? "," : "");
		addPrintable(&t, p.name);
		add(&t, ",\"results\":[");
		for (int j = 0; j < p.count; j++) {
			const PartResult &r = p.results[j];
			static const char *const kinds[] = {"pass", "fail", "timeout"};
			add(&t, "%s{\"time\":%.3f,\"result\":\"%s\",\"duration\":%.6f", j ? "," : "", r.atS, kinds[r.result],
				r.durationS);
			addString(&t, "line", r.line);
			add(&t, "}");
		}
		add(&t, "]}");
	}
	add(&t, "]}\n");
	return t.fits;
}
