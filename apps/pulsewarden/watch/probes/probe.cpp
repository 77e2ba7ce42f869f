// Which of the system's files carries out each kind of probe, and what
// they share.
#include "probe.h"

#include "core/duration.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

bool probeReady(const Probe &probe, char *why, size_t size)
{
	if (const char *problem = probeTargetProblem(probe)) {
		snprintf(why, size, "%s", problem);
		return false;
	}
	switch (probe.kind) {
	case probeHttp:
		return httpProbeReady(probe.target, why, size);
	case probeTcp:
		return tcpProbeReady(why, size);
	case probeService:
		return serviceProbeReady(probe.target, why, size);
	case probeProcess:
	case probeFile:
		return true;
	}
	return true;
}

void runProbe(const Probe &probe, const ProbeSetting &setting, ProbeResult *result)
{
	*result = ProbeResult{};
	switch (probe.kind) {
	case probeHttp:
		runHttpProbe(probe.target, setting, result);
		return;
	case probeTcp:
		runTcpProbe(probe.target, setting, result);
		return;
	case probeProcess:
		runProcessProbe(probe.target, result);
		return;
	case probeService:
		runServiceProbe(probe.target, setting, result);
		return;
	case probeFile:
		runFileProbe(probe.target, setting, result);
		return;
	}
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

void lowerFirst(char *text)
{
	// Only a plain word: "OpenSSL", "SSL" and "IPv6" keep their capitals.
	if (!isupper(static_cast<unsigned char>(text[0])))
		return;
	for (const char *p = text + 1; *p && isalpha(static_cast<unsigned char>(*p)); p++)
		if (isupper(static_cast<unsigned char>(*p)))
			return;
	text[0] = static_cast<char>(tolower(static_cast<unsigned char>(text[0])));
}
