// What a probe is, as the command line gives it, and how lines and
// labels name it: its kind and its target, judged from their text alone.
// How each kind is carried out is the probes' (probes/probe.h).
#pragma once

#include <cstddef>
#include <cstdint>

enum ProbeKind { probeHttp, probeTcp, probeProcess, probeService, probeFile };

struct Probe {
	ProbeKind kind;
	const char *target;   // as given: a URL, HOST:PORT, a name, a path
	// What a configuration file may say of one probe alone; 0: watch's own.
	int64_t timeoutNs = 0; // at most watch's --timeout, which ends the round
	int64_t maxAgeNs = 0;  // --file: how old the file may be
	// --http, as only a configuration file says it.
	bool head = false;     // HEAD rather than GET
	int expected[8] = {};  // the statuses that pass; none given: 200 to 399
	int expectedCount = 0;
	const char *caFile = nullptr;      // the certificates to trust, instead of the system's
	const char *headersFile = nullptr; // "Name: value" lines sent with each request, read each time
};

enum : int { maxExpected = 8 };

// The option that gives a kind ("--http"), from its name without dashes.
const char *probeOption(ProbeKind kind);
bool probeKindNamed(const char *option, ProbeKind *kind);

// How a target is shown wherever others may read it: lines, STATUS=,
// labels, the status file, messages. A URL's password is left out, and
// the value of each query parameter whose name says secret is "<secret>"
// ("http://admin@host/health?token=<secret>"). Printed as a configuration
// (--print, the runtime directory's copy), the password is "<secret>"
// too. False when the text was cut to fit.
enum TargetShown { shownInLines, shownInPrint };
bool probeShownTarget(const Probe &probe, char *text, size_t size, TargetShown how = shownInLines);
// Each secret of the probe's target that `text` quotes, "<secret>" in its
// place: a probe's own words, which a library may fill with what it was
// given.
void hideTargetSecrets(const Probe &probe, char *text, size_t size);

// A check's word as printed: each URL in it hides its secrets as a
// probe's URL does (curl's "https://admin:pw@host/", every one of a
// shell's "curl ... && curl ...", and one in another's query). Null when
// it has none; else the word with them hidden, in memory the caller frees.
char *wordShownWithoutSecrets(const char *word);
// The probe as a line names it: "http://host/health", "tcp db:5432",
// "process myapp", "service nginx", "file /run/myapp/alive".
void probeName(const Probe &probe, char *text, size_t size);
// The same as a metric's label: "http://host/health", "tcp:db:5432",
// "process:myapp", "service:nginx", "file:/run/myapp/alive".
void probeLabel(const Probe &probe, char *text, size_t size);

// Why the target can never be probed, judged from its text alone; null
// when it can be.
const char *probeTargetProblem(const Probe &probe);

// Why systemd would not take NAME (NAME.service when it has no suffix)
// as a unit's name; null when it would.
const char *systemdUnitProblem(const char *name);

// HOST:PORT, or [ADDRESS]:PORT, split. False when it is neither.
bool splitHostPort(const char *target, char *host, size_t hostSize, char *port, size_t portSize);
