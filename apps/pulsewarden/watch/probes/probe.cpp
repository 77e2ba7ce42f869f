// What a probe is, how a line names it, and which of the system's files
// carries it out.
#include "probe.h"

#include "watch_options.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>

static const struct {
	const char *option;
	ProbeKind kind;
	const char *word;   // how a line names it; null: by its target alone
} kinds[] = {
	{"--http", probeHttp, nullptr},
	{"--tcp", probeTcp, "tcp"},
	{"--process", probeProcess, "process"},
	{"--service", probeService, "service"},
	{"--file", probeFile, "file"},
	{nullptr, probeHttp, nullptr},
};

static size_t kindAt(ProbeKind kind)
{
	size_t i = 0;
	while (kinds[i].option && kinds[i].kind != kind)
		i++;
	return i;
}

const char *probeOption(ProbeKind kind)
{
	return kinds[kindAt(kind)].option;
}

bool probeKindNamed(const char *option, ProbeKind *kind)
{
	size_t i = 0;
	while (kinds[i].option && strcmp(kinds[i].option, option) != 0)
		i++;
	*kind = kinds[i].kind;
	return kinds[i].option != nullptr;
}

// The kind's word, then the target; a URL names itself.
static void named(const Probe &probe, char separator, char *text, size_t size)
{
	const char *word = kinds[kindAt(probe.kind)].word;
	if (word)
		snprintf(text, size, "%s%c%s", word, separator, probe.target);
	else
		snprintf(text, size, "%s", probe.target);
}

void probeName(const Probe &probe, char *text, size_t size)
{
	named(probe, ' ', text, size);
}

void probeLabel(const Probe &probe, char *text, size_t size)
{
	named(probe, ':', text, size);
}

static bool hasScheme(const char *url, const char *scheme)
{
	size_t n = strlen(scheme);
	return strncasecmp(url, scheme, n) == 0 && strncmp(url + n, "://", 3) == 0;
}

bool splitHostPort(const char *target, char *host, size_t hostSize, char *port, size_t portSize)
{
	const char *colon;
	size_t hostLength;
	const char *hostStart = target;
	if (target[0] == '[') {
		// An IPv6 address, in brackets so that its colons are not the port's.
		const char *close = strchr(target, ']');
		if (!close || close[1] != ':')
			return false;
		hostStart = target + 1;
		hostLength = static_cast<size_t>(close - hostStart);
		colon = close + 1;
	} else {
		colon = strchr(target, ':');
		if (!colon || strchr(colon + 1, ':'))
			return false;
		hostLength = static_cast<size_t>(colon - target);
	}
	const char *digits = colon + 1;
	size_t n = strspn(digits, "0123456789");
	if (hostLength == 0 || hostLength >= hostSize || n == 0 || n > 5 || digits[n] || digits[0] == '0'
		|| n >= portSize)
		return false;
	long number = 0;
	for (size_t i = 0; i < n; i++)
		number = number * 10 + (digits[i] - '0');
	if (number > 65535)
		return false;
	memcpy(host, hostStart, hostLength);
	host[hostLength] = '\0';
	memcpy(port, digits, n + 1);
	return true;
}

const char *probeTargetProblem(const Probe &probe)
{
	if (!*probe.target)
		return "an empty name";
	switch (probe.kind) {
	case probeHttp: {
		const char *host = probe.target + (hasScheme(probe.target, "http") ? 7
			: hasScheme(probe.target, "https") ? 8 : 0);
		if (host == probe.target)
			return strstr(probe.target, "://") ? "the scheme must be http or https"
				: "not a URL (http://HOST[:PORT][/PATH] or https://...)";
		if (!*host || *host == '/' || *host == ':' || *host == '?' || *host == '#')
			return "a URL names a host";
		for (const char *p = probe.target; *p; p++)
			if (isspace(static_cast<unsigned char>(*p)) || static_cast<unsigned char>(*p) < ' ')
				return "a URL has no spaces or control characters (%20 for a space)";
		return nullptr;
	}
	case probeTcp: {
		char host[256];
		char port[8];
		if (!splitHostPort(probe.target, host, sizeof host, port, sizeof port))
			return "not HOST:PORT (a name or an address, a port from 1 to 65535; [ADDRESS]:PORT for IPv6)";
		return nullptr;
	}
	case probeProcess:
		return strchr(probe.target, '/') || strchr(probe.target, '\\') ? "a process is named without its directory"
			: nullptr;
	case probeService:
	case probeFile:
		return nullptr;
	}
	return nullptr;
}

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
		return serviceProbeReady(why, size);
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
