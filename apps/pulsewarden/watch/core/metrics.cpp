// The figures in the Prometheus text format: each family with its HELP and
// TYPE lines, no timestamps on samples (a collector rejects a whole file
// that has them), label values escaped as the format requires.
#include "metrics.h"

#include "probe_target.h"
#include "text.h"

#include <cstdio>
#include <cstring>

void countRun(WatchFigures *figures, int part, bool passed, bool timedOut, int64_t durationNs)
{
	PartFigures &p = figures->parts[part];
	p.ran = true;
	p.up = passed;
	p.durationNs = durationNs;
	if (passed)
		p.passes++;
	else if (timedOut)
		p.timeouts++;
	else
		p.failures++;
}

void partLabel(const WatchOptions &o, int part, char *label, size_t size)
{
	if (part < o.probeCount)
		probeLabel(o.probes[part], label, size);
	else
		snprintf(label, size, "%s", o.check ? o.check[0] : "");
}

static bool sameCommand(char *const *a, char *const *b)
{
	for (; *a && *b; a++, b++)
		if (strcmp(*a, *b) != 0)
			return false;
	return !*a && !*b;
}

void matchParts(const WatchOptions &before, const WatchOptions &after, int *from)
{
	for (int i = 0; i < after.probeCount; i++) {
		char label[300];
		probeLabel(after.probes[i], label, sizeof label);
		from[i] = -1;
		for (int j = 0; j < before.probeCount && from[i] < 0; j++) {
			char was[300];
			probeLabel(before.probes[j], was, sizeof was);
			if (strcmp(label, was) == 0)
				from[i] = j;
		}
	}
	if (after.check)
		from[after.probeCount] = before.check && sameCommand(before.check, after.check) ? before.probeCount : -1;
}

void regroupFigures(WatchFigures *figures, const WatchOptions &after, const int *from)
{
	PartFigures parts[maxProbes + 1] = {};
	int count = after.probeCount + (after.check ? 1 : 0);
	for (int i = 0; i < count; i++)
		if (from[i] >= 0)
			parts[i] = figures->parts[from[i]];
	memcpy(figures->parts, parts, sizeof parts);
}

namespace {

// A label's value: backslash, double quote and line feed escaped, and
// each byte that is not UTF-8 (a file's name may hold any) made U+FFFD,
// as a collector refuses a whole file with one such label.
void escaped(const char *value, char *out, size_t size)
{
	size_t n = 0;
	for (const char *p = value; *p && n + 4 < size;) {
		size_t length = utf8Length(reinterpret_cast<const unsigned char *>(p));
		if (length == 0) {
			memcpy(out + n, "\xef\xbf\xbd", 3);
			n += 3;
			p++;
			continue;
		}
		if (*p == '\\' || *p == '"' || *p == '\n') {
			out[n++] = '\\';
			out[n++] = *p == '\n' ? 'n' : *p;
			p++;
			continue;
		}
		memcpy(out + n, p, length);
		n += length;
		p += length;
	}
	out[n] = '\0';
}

void family(Text *t, const char *name, const char *type, const char *help)
{
	add(t, "# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
}

}  // namespace

bool formatMetrics(const WatchOptions &o, WatchState state, const WatchFigures &f, double nowS, const char *version,
	char *text, size_t size)
{
	Text t = textIn(text, size);
	static const char *const states[] = {"starting", "healthy", "failing", "paused", "held"};
	family(&t, "pulsewarden_watch_state", "gauge", "The watcher's state: 1 for the one it is in.");
	for (int s = stateStarting; s <= stateHeld; s++)
		add(&t, "pulsewarden_watch_state{state=\"%s\"} %d\n", states[s], s == state ? 1 : 0);
	family(&t, "pulsewarden_watch_unchecked", "gauge",
		"1 when nothing could be checked, for the watcher's own fault, for longer than the platform's window.");
	add(&t, "pulsewarden_watch_unchecked %d\n", f.unchecked ? 1 : 0);
	family(&t, "pulsewarden_watch_check_stuck", "gauge",
		"1 while a check program that could not be ended (held by the kernel) is still there; no check starts.");
	add(&t, "pulsewarden_watch_check_stuck %d\n", f.stuck ? 1 : 0);
	family(&t, "pulsewarden_watch_file_failing", "gauge",
		"1 when the file could not be written, or its write has not returned, for longer than the window.");
	// The reset record has a gauge of its own: pulsewarden_reset_record_unkept.
	static const char *const files[] = {"metrics", "status"};
	for (int i = 0; i < 2; i++)
		add(&t, "pulsewarden_watch_file_failing{file=\"%s\"} %d\n", files[i], f.fileFailing[i] ? 1 : 0);
	family(&t, "pulsewarden_reset_record_unkept", "gauge",
		"1 when the reset record cannot be kept (no state directory, no room for it, a write that failed): "
		"--max-resets cannot count resets, and a reset would not be explained after the reboot.");
	add(&t, "pulsewarden_reset_record_unkept %d\n", f.recordUnkept ? 1 : 0);

	int parts = o.pid ? 0 : o.probeCount + (o.check ? 1 : 0);
	char labels[maxProbes + 1][600];
	for (int i = 0; i < parts; i++) {
		char label[300];
		partLabel(o, i, label, sizeof label);
		escaped(label, labels[i], sizeof labels[i]);
	}
	family(&t, "pulsewarden_check_up", "gauge", "Whether the last run of the check or probe passed.");
	for (int i = 0; i < parts; i++)
		if (f.parts[i].ran)
			add(&t, "pulsewarden_check_up{check=\"%s\"} %d\n", labels[i], f.parts[i].up ? 1 : 0);
	family(&t, "pulsewarden_check_duration_seconds", "gauge", "How long the last run of the check or probe took.");
	for (int i = 0; i < parts; i++)
		if (f.parts[i].ran)
			add(&t, "pulsewarden_check_duration_seconds{check=\"%s\"} %.6f\n", labels[i],
				static_cast<double>(f.parts[i].durationNs) / 1e9);
	family(&t, "pulsewarden_checks_total", "counter", "Runs of the check or probe, by how they ended.");
	for (int i = 0; i < parts; i++) {
		const PartFigures &p = f.parts[i];
		add(&t, "pulsewarden_checks_total{check=\"%s\",result=\"pass\"} %llu\n", labels[i],
			static_cast<unsigned long long>(p.passes));
		add(&t, "pulsewarden_checks_total{check=\"%s\",result=\"fail\"} %llu\n", labels[i],
			static_cast<unsigned long long>(p.failures));
		add(&t, "pulsewarden_checks_total{check=\"%s\",result=\"timeout\"} %llu\n", labels[i],
			static_cast<unsigned long long>(p.timeouts));
	}

	family(&t, "pulsewarden_heartbeats_total", "counter", "Heartbeats the platform took.");
	add(&t, "pulsewarden_heartbeats_total %llu\n", static_cast<unsigned long long>(f.heartbeats));
	family(&t, "pulsewarden_heartbeats_refused_total", "counter", "Heartbeats the platform refused.");
	add(&t, "pulsewarden_heartbeats_refused_total %llu\n", static_cast<unsigned long long>(f.heartbeatsRefused));
	family(&t, "pulsewarden_need_reset_posts_total", "counter", "appStateNeedReset posts the platform took.");
	add(&t, "pulsewarden_need_reset_posts_total %llu\n", static_cast<unsigned long long>(f.needResetPosts));
	family(&t, "pulsewarden_last_heartbeat_timestamp_seconds", "gauge",
		"When the platform last took a heartbeat, in Unix time; absent before the first.");
	if (f.lastHeartbeatS > 0)
		add(&t, "pulsewarden_last_heartbeat_timestamp_seconds %.3f\n", f.lastHeartbeatS);
	family(&t, "pulsewarden_resets_total", "counter",
		"Resets of the machine by the platform, as the watcher concluded them at the boot after, in every boot.");
	add(&t, "pulsewarden_resets_total %lld\n", static_cast<long long>(f.resetsTotal));
	family(&t, "pulsewarden_last_reset_timestamp_seconds", "gauge",
		"When the last of them was, about, in Unix time; absent before the first.");
	if (f.lastResetS > 0)
		add(&t, "pulsewarden_last_reset_timestamp_seconds %.3f\n", f.lastResetS);
	family(&t, "pulsewarden_last_update_timestamp_seconds", "gauge", "When the watcher wrote these figures, in Unix time.");
	add(&t, "pulsewarden_last_update_timestamp_seconds %.3f\n", nowS);
	if (f.configReadS > 0) {
		// As the monitoring system names its own.
		family(&t, "pulsewarden_config_last_reload_successful", "gauge",
			"Whether the configuration files read last were applied (1) or refused (0).");
		add(&t, "pulsewarden_config_last_reload_successful %d\n", f.lastReloadFailed ? 0 : 1);
		family(&t, "pulsewarden_config_last_reload_success_timestamp_seconds", "gauge",
			"When the configuration in use was read, in Unix time.");
		add(&t, "pulsewarden_config_last_reload_success_timestamp_seconds %.3f\n", f.configReadS);
	}
	family(&t, "pulsewarden_build_info", "gauge", "The watcher's version.");
	add(&t, "pulsewarden_build_info{version=\"%s\"} 1\n", version);
	return t.fits;
}
