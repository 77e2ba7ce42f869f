// The configuration read again. Which of the loop's three slots is in
// use, which waits for the round under way to end and which is being read
// is decided here alone, with each slot's check user: files refused never
// touch the ones waiting, nothing waits before the core has heard that it
// checks out, and a configuration is applied whole between two rounds,
// never under one, so that each part's run is judged by the setting it
// was started with.
#include "watch_core_parts.h"

#include "metrics.h"
#include "probe_target.h"
#include "text.h"

#include <cstdio>
#include <cstring>

void slotsAtStart(WatchCore *c)
{
	c->reload.inUse = 0;
	c->reload.waiting = c->reload.reading = noSlot;
	c->reload.again = false;
	WatchOptions &o = c->setting.options;
	int kept = 0;
	for (const OptionRow *row = optionTable; row->name; row++) {
		if (!row->startOnly || !row->path || !(o.*row->path))
			continue;
		if (kept == sizeof c->reload.started / sizeof c->reload.started[0])
			break;
		char *copy = c->reload.started[kept++];
		snprintf(copy, sizeof c->reload.started[0], "%s", o.*row->path);
		o.*row->path = copy;
	}
}

static void slotAction(Step *s, ActionKind kind, int slot)
{
	add(s, kind)->status = slot;
}

static void answerReload(Step *s, const char *how)
{
	snprintf(add(s, actAnswerReload)->text, sizeof(Action::text), "%s", how);
}

// SIGHUP. A watcher of the command line alone has nothing to read: it
// says how things stand, as SIGHUP always had it do.
void reloadAsked(WatchCore *c, Step *s, int64_t now)
{
	notify(s, "RELOADING=1");
	if (!options(c).config) {
		answerReload(s, "applied");
		report(c, s, now);
		notify(s, "READY=1");
		return;
	}
	// Asked while files are read: they may have changed since the reading
	// began, and are read again once it ends.
	if (c->reload.reading != noSlot) {
		c->reload.again = true;
		return;
	}
	int slot = 0;
	while (slot == c->reload.inUse || slot == c->reload.waiting)
		slot++;
	c->reload.reading = slot;
	slotAction(s, actReadConfig, slot);
}

// A start-only row's value differs between the two.
static bool differs(const OptionRow &row, const WatchOptions &a, const WatchOptions &b)
{
	if (row.flag)
		return a.*row.flag != b.*row.flag;
	if (row.duration)
		return a.*row.duration != b.*row.duration;
	const char *x = a.*row.path;
	const char *y = b.*row.path;
	return x != y && (!x || !y || strcmp(x, y) != 0);
}

// The keys a running watcher keeps as it started that the files change:
// "enable, state_dir", or "".
static void restartKeys(const WatchOptions &o, const WatchOptions &after, char *text, size_t size)
{
	Text t = textIn(text, size);
	text[0] = '\0';
	const char *comma = "";
	for (const OptionRow *row = optionTable; row->name; row++) {
		if (!row->startOnly || !differs(*row, o, after))
			continue;
		add(&t, "%s", comma);
		for (const char *p = row->name + 2; *p; p++)
			add(&t, "%c", *p == '-' ? '_' : *p);
		comma = ", ";
	}
}

// What only a start decides stays as it began: whether this watcher owns
// monitoring, its runtime and state directories, its start timeout.
static void keepAsStarted(const WatchOptions &started, WatchOptions *o)
{
	for (const OptionRow *row = optionTable; row->name; row++) {
		if (!row->startOnly)
			continue;
		if (row->flag)
			o->*row->flag = started.*row->flag;
		else if (row->duration)
			o->*row->duration = started.*row->duration;
		else if (row->path)
			o->*row->path = started.*row->path;
	}
}

// What files read change of the configuration in use, as a reload's line
// says it: "3 parts: 2 kept, 1 new, 0 removed", and the keys a running
// watcher keeps as it started, which only a restart applies. A warning
// when there are such keys: the operator expects them applied.
static Priority whatChanges(const WatchOptions &o, const WatchOptions &after, char *text, size_t size)
{
	int from[maxProbes + 1];
	matchParts(o, after, from);
	int count = after.probeCount + (after.check ? 1 : 0);
	int kept = 0;
	for (int i = 0; i < count; i++)
		kept += from[i] >= 0;
	int before = o.probeCount + (o.check ? 1 : 0);
	Text t = textIn(text, size);
	add(&t, "%d part%s: %d kept, %d new, %d removed", count, count == 1 ? "" : "s", kept, count - kept, before - kept);
	char waiting[200];
	restartKeys(o, after, waiting, sizeof waiting);
	if (!waiting[0])
		return priorityNotice;
	add(&t, "; waiting for a restart: %s", waiting);
	return priorityWarning;
}


// What the files read came to. What only a start decides stays as it
// began, named in the reload's line; the process watched is one of those,
// and a change to it refuses the files whole.
static void heard(WatchCore *c, Step *s, const Event &e, int64_t now)
{
	int slot = e.answer;
	c->reload.reading = noSlot;
	char why[900];
	snprintf(why, sizeof why, "%s", e.why ? e.why : "");
	if (!why[0] && e.options && e.options->pid != options(c).pid)
		snprintf(why, sizeof why, "%s: the process watched changes only with a start", options(c).config);
	if (why[0] || !e.options) {
		slotAction(s, actReleaseConfig, slot);
		c->view.figures.lastReloadFailed = true;
		c->files.figuresDue = true;
		char answer[920];
		snprintf(answer, sizeof answer, "refused: %s", why);
		answerReload(s, answer);
		addLine(s, priorityWarning, "configuration not reloaded, the one in use stays: %s", why);
		notify(s, "READY=1");
		return;
	}
	// Read twice before a round ended: the later files take the earlier's place.
	if (c->reload.waiting != noSlot)
		slotAction(s, actReleaseConfig, c->reload.waiting);
	c->reload.waiting = slot;
	c->reload.waitingOptions = e.options;
	c->reload.waitingSaid = false;
	applyIfWaiting(c, s, now);
	// A reload that waits says so, or a check that runs long looks like a
	// reload that was lost: its one line, now rather than once applied.
	if (c->reload.waiting != noSlot && !stopping(c)) {
		char what[300];
		Priority priority = whatChanges(options(c), *e.options, what, sizeof what);
		addLine(s, priority, "configuration read and checked: %s; it applies when the check under way ends", what);
		c->reload.waitingSaid = true;
	}
}

void configRead(WatchCore *c, Step *s, const Event &e, int64_t now)
{
	heard(c, s, e, now);
	if (c->reload.again && !stopping(c)) {
		c->reload.again = false;
		reloadAsked(c, s, now);
	}
}


// Each part's name in the status, as its lines name it.
void nameParts(WatchCore *c)
{
	const WatchOptions &o = options(c);
	WatchStatus &st = c->view.status;
	int count = 0;
	for (int i = 0; i < o.probeCount; i++, count++)
		probeName(o.probes[i], st.parts[count].name, sizeof st.parts[count].name);
	if (o.check)
		snprintf(st.parts[count++].name, sizeof st.parts[0].name, "%s", o.check[0]);
	st.partCount = count;
}

// Each part keeps its figures and its results where it is the part it was
// (`from`, as matchParts gives); new ones start afresh.
static void regroupParts(WatchCore *c, const WatchOptions &after, const int *from)
{
	regroupFigures(&c->view.figures, after, from);
	static PartHistory before[maxProbes + 1];
	memcpy(before, c->view.status.parts, sizeof before);
	int count = after.probeCount + (after.check ? 1 : 0);
	for (int i = 0; i < count; i++)
		c->view.status.parts[i] = from[i] >= 0 ? before[from[i]] : PartHistory{};
}

// The one waiting is the one in use from this step on, with its parts
// following the parts they were: a check this step starts runs by it.
// The loop is told which slot was in use before, for its probes' threads.
// The schedule keeps its phase; a new interval counts from the last tick,
// and a tick already due under it starts now, so that no heartbeat comes
// later than either interval would have sent it.
void applyIfWaiting(WatchCore *c, Step *s, int64_t now)
{
	if (c->reload.waiting == noSlot || c->check.running || stopping(c))
		return;
	WatchOptions &o = c->setting.options;
	const WatchOptions &after = *c->reload.waitingOptions;
	int from[maxProbes + 1];
	matchParts(o, after, from);
	regroupParts(c, after, from);
	char what[300];
	Priority priority = whatChanges(o, after, what, sizeof what);
	char answer[300];
	restartKeys(o, after, answer, sizeof answer);
	if (o.metricsFile && (!after.metricsFile || strcmp(o.metricsFile, after.metricsFile) != 0))
		snprintf(add(s, actRemoveFigures)->text, sizeof(Action::text), "%s", o.metricsFile);
	Action *apply = add(s, actApplyConfig);
	apply->status = c->reload.waiting;
	apply->slotBefore = c->reload.inUse;
	slotAction(s, actReleaseConfig, c->reload.inUse);
	c->reload.inUse = c->reload.waiting;
	c->reload.waiting = noSlot;
	int64_t intervalBefore = o.intervalNs;
	int64_t periodBefore = o.maxResetsPeriodNs;
	WatchOptions started = o;
	o = after;
	keepAsStarted(started, &o);
	nameParts(c);
	c->view.figures.lastReloadFailed = false;
	c->view.figures.configReadS = c->unixS;
	if (o.intervalNs != intervalBefore) {
		int64_t next = c->schedule.nextTick - intervalBefore + o.intervalNs;
		c->schedule.nextTick = c->schedule.origin = next > now ? next : now;
	}
	c->files.figuresDue = true;
	add(s, actKeepConfig);
	if (o.maxResetsPeriodNs != periodBefore)
		add(s, actCountResets);
	char applied[400];
	snprintf(applied, sizeof applied, "applied%s%s", answer[0] ? "; waiting for a restart: " : "", answer);
	answerReload(s, applied);
	// One line a reload: said already when it waited for a round.
	if (!c->reload.waitingSaid)
		addLine(s, priority, "configuration reloaded: %s", what);
	c->reload.waitingSaid = false;
	notify(s, "READY=1");
}
