// --process and --file on Windows: the system's list of processes, and
// the file's last write.
#include "probe.h"

#include "core/duration.h"
#include "system.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

// An image name, any case, ".exe" optional in the name asked for.
static bool sameImage(const char *image, const char *name)
{
	if (lstrcmpiA(image, name) == 0)
		return true;
	size_t n = strlen(name);
	return strlen(image) == n + 4 && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, image, static_cast<int>(n),
		name, static_cast<int>(n)) == CSTR_EQUAL && lstrcmpiA(image + n, ".exe") == 0;
}

void runProcessProbe(const char *name, ProbeResult *result)
{
	HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
	if (snapshot == INVALID_HANDLE_VALUE) {
		char words[160];
		lastErrorText(words, sizeof words);
		probeFailed(result, "cannot list the processes: %s", words);
		return;
	}
	PROCESSENTRY32 entry = {};
	entry.dwSize = sizeof entry;
	// Never the watcher itself.
	DWORD self = GetCurrentProcessId();
	for (BOOL more = Process32First(snapshot, &entry); more && !result->passed; more = Process32Next(snapshot, &entry))
		result->passed = entry.th32ProcessID != self && sameImage(entry.szExeFile, name);
	CloseHandle(snapshot);
	if (!result->passed)
		probeFailed(result, "not running");
}

void runFileProbe(const char *path, const ProbeSetting &setting, FileLook *look, ProbeResult *result)
{
	WIN32_FILE_ATTRIBUTE_DATA data;
	if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
		char words[160];
		lastErrorText(words, sizeof words);
		probeFailed(result, "%s", words);
		lowerFirst(result->how);
		return;
	}
	FILETIME now;
	GetSystemTimeAsFileTime(&now);
	auto ticks = [](const FILETIME &t) {
		return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
	};
	// FILETIME counts 100 ns.
	int64_t ageNs = (ticks(now) - ticks(data.ftLastWriteTime)) * 100;
	judgeFileAge(fileAgeNs(look, ticks(data.ftLastWriteTime) * 100, ageNs, bootClockNs()), setting, result);
}
