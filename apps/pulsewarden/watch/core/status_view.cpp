// pulsewarden status's verdict and its JSON; see status_view.h.
#include "status_view.h"

#include "text.h"

#include <cstdio>
#include <cstring>

// A status this old means a watcher that does not run, whatever it says:
// it is written at every tick.
static const int intervalsFresh = 3;

StatusAnswer judgeStatus(const WatchStatus *s, const char *unread, long holder, const char *dir, double nowS,
	char *why, size_t size)
{
	why[0] = '\0';
	if (!holder) {
		if (s)
			snprintf(why, size, "no watcher runs in %s: process %ld has ended (its status was last written "
				"%.0f s ago)", dir, s->pid, nowS - s->updatedS);
		else
			snprintf(why, size, "no watcher runs in %s", dir);
		return answerNone;
	}
	if (!s && unread) {
		snprintf(why, size, "process %ld holds %s, but its status cannot be read: %s", holder, dir, unread);
		return answerNone;
	}
	if (!s || s->pid != holder) {
		snprintf(why, size, "process %ld holds %s and has written no status yet: starting", holder, dir);
		return answerFailing;
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

bool statusJson(const WatchStatus *s, StatusAnswer answer, const char *why, long holder, char *text, size_t size)
{
	Text t = textIn(text, size);
	add(&t, "{\"version\":1");
	addString(&t, "answer", answerNames[answer]);
	addString(&t, "why", why);
	if (!s) {
		if (holder)
			add(&t, ",\"pid\":%ld,\"alive\":true", holder);
		else
			add(&t, ",\"pid\":null,\"alive\":false");
		add(&t, ",\"state\":\"none\",\"parts\":[]}\n");
		return t.fits;
	}
	add(&t, ",\"pid\":%ld,\"alive\":%s", s->pid, holder == s->pid ? "true" : "false");
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
