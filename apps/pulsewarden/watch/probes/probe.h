// Probes: what most checks are (an HTTP endpoint answers, a port accepts,
// a process runs, a service runs, a file was touched recently), checked in
// the watcher's own process rather than by starting a program each time.
// What a probe is and how it is named: core/probe_target.h. How each is
// carried out differs per system: probe_*_posix.cpp and probe_*_windows.cpp.
#pragma once

#include "core/file_age.h"
#include "core/probe_target.h"
#include "core/text.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

// What every probe of a watcher is run with.
struct ProbeSetting {
	int64_t timeoutNs;
	int64_t maxAgeNs;     // --file: how old the file may be
	bool insecure;        // --http: no certificate check
	// Set while the probe reads the watcher's own input (its headers or CA
	// file): a run that is still there at its timeout hangs on the
	// watcher's file, not on the application. Null: not told.
	std::atomic<bool> *readingOwnInput = nullptr;
};

// The probe's own input being read, as ProbeSetting tells it.
inline void readingOwnInput(const ProbeSetting &setting, bool reading)
{
	if (setting.readingOwnInput)
		setting.readingOwnInput->store(reading);
}

// What one run of a probe came to. `how` says why it failed, in the
// probe's own terms ("status 503", "connection refused"); a timeout is
// said by whoever reads it, from the timeout.
struct ProbeResult {
	bool passed;
	bool timedOut;
	// The watcher's own input failed it (its headers or CA file), not the
	// application: no verdict on the application.
	bool ownFault;
	char how[256];
};

// Whether the probe can run here: what it needs of the system is there
// (its library, loaded now), and the system takes its target. Called on
// the watcher's thread, before any probe runs.
bool probeReady(const Probe &probe, char *why, size_t size);

// One run, on any thread; it ends within the timeout, or about then.
// `look`: what --file remembers of its file from one run to the next.
void runProbe(const Probe &probe, const ProbeSetting &setting, FileLook *look, ProbeResult *result);

// What can be answered on the watcher's own thread without waiting, is:
// true with the result, else the probe's thread is to run it.
bool probeAtOnce(const Probe &probe, ProbeResult *result);

// The same, one kind each, in the system's files.
bool httpProbeReady(const Probe &probe, char *why, size_t size);
void runHttpProbe(const Probe &probe, const ProbeSetting &setting, ProbeResult *result);
bool tcpProbeReady(char *why, size_t size);
void runTcpProbe(const char *target, const ProbeSetting &setting, ProbeResult *result);
bool tcpAtOnce(const char *target, ProbeResult *result);
void runProcessProbe(const char *name, ProbeResult *result);
bool serviceProbeReady(const char *name, char *why, size_t size);
void runServiceProbe(const char *name, const ProbeSetting &setting, ProbeResult *result);
void runFileProbe(const char *path, const ProbeSetting &setting, FileLook *look, ProbeResult *result);

// Helpers for the system's files.
// Whether an HTTP answer's status passes: one of those the probe expects,
// or, none given, 200 to 399.
bool statusExpected(const Probe &probe, long status);
// The headers file's "Name: value" lines, each to `each` (blank lines and
// "#" comments skipped); false, with why, for a line that is not one, or
// a file that cannot be read or that others may read.
bool eachHeader(const char *path, bool (*each)(const char *line, void *context), void *context, char *why,
	size_t size);
// A file's age against the limit: passed, or why not.
void judgeFileAge(int64_t ageNs, const ProbeSetting &setting, ProbeResult *result);
void probeFailed(ProbeResult *result, const char *format, ...) __attribute__((format(printf, 2, 3)));
void probeOwnFault(ProbeResult *result, const char *format, ...) __attribute__((format(printf, 2, 3)));
