// Which of the system's files carries out each kind of probe, and what
// they share.
#include "probe.h"

#include "core/duration.h"
#include "files.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool probeReady(const Probe &probe, char *why, size_t size)
{
	if (const char *problem = probeTargetProblem(probe)) {
		snprintf(why, size, "%s", problem);
		return false;
	}
	bool ready = true;
	switch (probe.kind) {
	case probeHttp:
		ready = httpProbeReady(probe, why, size);
		break;
	case probeTcp:
		ready = tcpProbeReady(why, size);
		break;
	case probeService:
		ready = serviceProbeReady(probe.target, why, size);
		break;
	case probeProcess:
	case probeFile:
		break;
	}
	if (!ready)
		hideTargetSecrets(probe, why, size);
	return ready;
}

// What the probe's libraries say is said to others: never with a secret
// of the target they were given.
void runProbe(const Probe &probe, const ProbeSetting &setting, FileLook *look, ProbeResult *result)
{
	*result = ProbeResult{};
	switch (probe.kind) {
	case probeHttp:
		runHttpProbe(probe, setting, result);
		break;
	case probeTcp:
		runTcpProbe(probe.target, setting, result);
		break;
	case probeProcess:
		runProcessProbe(probe.target, result);
		break;
	case probeService:
		runServiceProbe(probe.target, setting, result);
		break;
	case probeFile:
		runFileProbe(probe.target, setting, look, result);
		break;
	}
	hideTargetSecrets(probe, result->how, sizeof result->how);
}

bool probeAtOnce(const Probe &probe, ProbeResult *result)
{
	*result = ProbeResult{};
	return probe.kind == probeTcp && tcpAtOnce(probe.target, result);
}

void judgeFileAge(int64_t ageNs, const ProbeSetting &setting, ProbeResult *result)
{
	result->passed = ageNs <= setting.maxAgeNs;
	if (result->passed)
		return;
	char limit[32];
	formatDuration(setting.maxAgeNs, limit, sizeof limit);
	if (ageNs < 10 * nsPerS)
		probeFailed(result, "modified %.1f s ago (at most %s)", static_cast<double>(ageNs) / 1e9, limit);
	else
		probeFailed(result, "modified %lld s ago (at most %s)", static_cast<long long>(ageNs / nsPerS), limit);
}

void probeFailed(ProbeResult *result, const char *format, ...)
{
	result->passed = false;
	va_list ap;
	va_start(ap, format);
	vsnprintf(result->how, sizeof result->how, format, ap);
	va_end(ap);
}

void probeOwnFault(ProbeResult *result, const char *format, ...)
{
	result->passed = false;
	result->ownFault = true;
	va_list ap;
	va_start(ap, format);
	vsnprintf(result->how, sizeof result->how, format, ap);
	va_end(ap);
}

bool statusExpected(const Probe &probe, long status)
{
	if (probe.expectedCount == 0)
		return status >= 200 && status <= 399;
	for (int i = 0; i < probe.expectedCount; i++)
		if (probe.expected[i] == status)
			return true;
	return false;
}

bool eachHeader(const char *path, bool (*each)(const char *line, void *context), void *context, char *why,
	size_t size)
{
	// Tokens and passwords: a file others may read has them no longer,
	// and one others may change sends theirs.
	char *text;
	size_t length;
	if (readableByOthers(path, why, size) || !readInput(path, size_t{64} * 1024, &text, &length, why, size))
		return false;
	bool usable = true;
	int number = 0;
	for (char *line = text; usable && *line;) {
		size_t n = strcspn(line, "\n");
		char *next = line + n + (line[n] != '\0');
		line[n] = '\0';
		if (n > 0 && line[n - 1] == '\r')
			line[n - 1] = '\0';
		number++;
		const char *start = line + strspn(line, " \t");
		if (*start && *start != '#') {
			// "Name: value": a name of visible characters, and no control
			// character that would end the request's header early.
			const char *colon = strchr(line, ':');
			bool named = colon && colon > line && strcspn(line, " \t") >= static_cast<size_t>(colon - line);
			for (const char *p = line; named && *p; p++)
				named = static_cast<unsigned char>(*p) >= ' ' || *p == '\t';
			if (!named) {
				snprintf(why, size, "headers file %s: line %d is not \"Name: value\"", path, number);
				usable = false;
			} else if (each) {
				usable = each(line, context);
			}
		}
		line = next;
	}
	free(text);
	return usable;
}