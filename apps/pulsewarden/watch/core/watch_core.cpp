// watch's policy: one event at a time, answered with actions and the next
// deadline (watch_core.h). This file takes the event to the part of the
// core it concerns and builds the step; the parts are the calls to the
// platform (platform_calls.cpp), the hold and the resets (hold.cpp), the
// schedule and the timeouts (schedule.cpp), the checks' verdicts
// (verdicts.cpp) and the configuration read again (reload.cpp).
#include "watch_core_parts.h"

#include "duration.h"
#include "library_result.h"
#include "watch_exits.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

// Each action as the lines name it, in the order of ActionKind: the
// library's calls as its own names, the rest as the tests show them.
static const char *const actionNames[] = {"say", "notify", "isEnabled", "enable", "disable", "markActive",
	"postAppState appStateOk", "postAppState appStateNeedReset", "start check", "TERM check", "KILL check",
	"let check be",
	"write figures", "remove figures", "write status", "read config", "apply config", "release config",
	"answer reload", "keep config", "count resets", "keep record", "record seen", "take back record", "hold",
	"end hold", "exit"};
static_assert(sizeof actionNames / sizeof actionNames[0] == actExit + 1, "a name for each action");

const char *actionName(ActionKind kind)
{
	return actionNames[kind];
}

static const char *const stateNames[] = {"starting", "healthy", "failing", "paused", "held"};

// The library's words, as the one-shot commands print them.
const char *resultText(int32_t result, char *text, size_t size)
{
	describeResult(result, text, size);
	return text;
}

Action *add(Step *s, ActionKind kind)
{
	// A step takes eight at most; were the list ever full, the newest would
	// take the last slot, so that an exit or a call awaited is never lost.
	size_t at = s->count < maxActions ? s->count++ : maxActions - 1;
	Action *a = &s->actions[at];
	*a = Action{};
	a->kind = kind;
	return a;
}

void ask(WatchCore *c, Step *s, ActionKind kind, Asked asked)
{
	add(s, kind);
	c->platform.asked = asked;
	c->platform.call = kind;
	c->platform.askedAt = c->schedule.lastNow;
}

bool awaiting(const WatchCore *c)
{
	return c->platform.asked != askedNothing;
}

bool stopping(const WatchCore *c)
{
	return c->stop.requests > 0;
}

static void addLineV(Step *s, Priority priority, const char *format, va_list ap) PRINTF_LIKE(3, 0);

static void addLineV(Step *s, Priority priority, const char *format, va_list ap)
{
	Action *a = add(s, actSay);
	a->priority = priority;
	vsnprintf(a->text, sizeof a->text, format, ap);
}

void addLine(Step *s, Priority priority, const char *format, ...)
{
	va_list ap;
	va_start(ap, format);
	addLineV(s, priority, format, ap);
	va_end(ap);
}

void addLineOnce(Step *s, bool *said, Priority priority, const char *format, ...)
{
	if (*said)
		return;
	*said = true;
	va_list ap;
	va_start(ap, format);
	addLineV(s, priority, format, ap);
	va_end(ap);
}

void notify(Step *s, const char *message)
{
	snprintf(add(s, actNotify)->text, sizeof(Action::text), "%s", message);
}

const WatchOptions &options(const WatchCore *c)
{
	return c->setting.options;
}

// Off as someone else left it, or as the hold switched it.
bool monitoringOff(const WatchCore *c)
{
	return c->state == statePaused || (c->state == stateHeld && c->hold.off);
}

void endedAs(WatchCore *c, bool off, const char *format, ...)
{
	c->stop.off = off;
	va_list ap;
	va_start(ap, format);
	vsnprintf(c->stop.how, sizeof c->stop.how, format, ap);
	va_end(ap);
}

void exitWith(WatchCore *c, Step *s, int status, bool fromLibrary)
{
	if (!c->stop.how[0])
		endedAs(c, monitoringOff(c), "stopped");
	c->stop.endedAt = c->schedule.lastNow;
	if (c->check.running)
		add(s, actEndCheck);
	c->check.running = false;
	// Stopped in order, it leaves no figures to be scraped as if it ran;
	// any other end leaves them, for the alert that they stopped changing.
	if (status == 0 && !fromLibrary && options(c).metricsFile)
		snprintf(add(s, actRemoveFigures)->text, sizeof(Action::text), "%s", options(c).metricsFile);
	c->stop.ended = true;
	// The status says how it ended.
	writeStatus(c, s);
	Action *a = add(s, actExit);
	a->status = status;
	a->fromLibrary = fromLibrary;
}

// What the platform does once the watcher has ended with monitoring left
// as it is: it acts on heartbeats that stop, and only on those.
void afterUs(const WatchCore *c, char *text, size_t size)
{
	char window[32];
	formatDuration(options(c).windowNs, window, sizeof window);
	if (monitoringOff(c))
		snprintf(text, size, "; monitoring is off: the platform does nothing");
	else if (c->platform.resetPosted)
		snprintf(text, size, "; monitoring stays on, and appStateNeedReset stands: the platform acts on it");
	else if (c->platform.beatSinceOn)
		snprintf(text, size, "; monitoring stays on: the platform acts once no heartbeat has come for its "
			"window (%s)", window);
	else if (c->platform.onFromOff)
		snprintf(text, size, "; monitoring stays on, but no heartbeat was sent since it was switched on: the "
			"platform shows gray and does nothing");
	else
		snprintf(text, size, "; monitoring stays on, but this watcher sent no heartbeat: the platform acts only "
			"on heartbeats sent before it, once none has come for its window (%s)", window);
}

double secondsSince(int64_t then, int64_t now)
{
	return static_cast<double>(now - then) / 1e9;
}

const char *stateName(WatchState state)
{
	return stateNames[state];
}

Step watchStep(WatchCore *c, const Event &e, int64_t now, int64_t asleep, double unixS)
{
	Step s;
	s.count = 0;
	if (c->stop.ended) {
		s.deadline = s.statusDeadline = never;
		return s;
	}
	WatchState before = c->state;
	if (e.kind != eventStart && e.kind != eventAnswer && e.kind != eventWritten && e.kind != eventResetsCounted
		&& e.kind != eventCheckGone)
		noticeGap(c, &s, now, asleep);
	c->schedule.lastNow = now;
	c->schedule.lastAsleep = asleep;
	c->unixS = unixS;
	switch (e.kind) {
	case eventStart:
		begin(c, &s, now);
		break;
	case eventAnswer:
		answered(c, &s, e.answer, now);
		break;
	case eventCheckEnded:
		countParts(c, e.check);
		judgeCheck(c, &s, e.check, now);
		if (stopping(c) && !c->check.running && !c->stop.ended && !awaiting(c))
			finishStop(c, &s);
		applyIfWaiting(c, &s, now);
		break;
	case eventReloadAsked:
		reloadAsked(c, &s, now);
		break;
	case eventConfigRead:
		configRead(c, &s, e, now);
		break;
	case eventStop:
		stop(c, &s, now);
		break;
	case eventReport:
		report(c, &s, now);
		break;
	case eventProcessGone: {
		char what[64];
		snprintf(what, sizeof what, "process %ld has ended", options(c).pid);
		endOnFailure(c, &s, exitPidGone, what);
		break;
	}
	case eventWritten:
		written(c, &s, e);
		break;
	case eventRelease:
		c->setting.resets = *e.resets;
		addLine(&s, priorityNotice, "released: the resets counted so far are forgiven");
		if (c->state == stateHeld && !stopping(c))
			rearm(c, &s);
		break;
	case eventResetsCounted:
		c->setting.resets = *e.resets;
		break;
	case eventCheckGone:
		checkGone(c, &s, now);
		break;
	case eventTime:
		break;
	}
	if (!c->stop.ended) {
		due(c, &s, now, e.checkWaitedNs);
		postOnceRecorded(c, &s);
	}
	if (c->state != before || e.kind == eventStart)
		c->stateSince = now;
	filesDue(c, &s, e.kind == eventAnswer, e.kind == eventStart || e.kind == eventTime, before, e.kind);
	s.deadline = nextDeadline(c);
	// Once a tick at most, at the tick's own wake; this wake of its own only
	// where no tick came, well within the three intervals a reader allows.
	s.statusDeadline = c->stop.ended || c->files.statusAt == none ? never : c->files.statusAt + options(c).intervalNs * 3 / 2;
	c->schedule.deadline = s.deadline;
	bool judging = c->check.running && !c->check.timedOut && !c->stop.ended;
	c->view.judgesTimeoutAt = judging ? c->check.deadline : never;
	return s;
}
