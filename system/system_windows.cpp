// Windows.
#include "system.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>

int64_t bootClockNs()
{
	// Milliseconds since boot, sleep included; no wall-clock change moves it.
	return static_cast<int64_t>(GetTickCount64()) * 1000000;
}

int64_t awakeClockNs()
{
	// 100 ns since boot, sleep and hibernation left out.
	ULONGLONG ticks = 0;
	QueryUnbiasedInterruptTime(&ticks);
	return static_cast<int64_t>(ticks) * 100;
}

double unixTimeS()
{
	FILETIME now;
	GetSystemTimeAsFileTime(&now);
	// 100 ns since 1601.
	uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
	return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

void localTimeText(char *text, size_t size, bool milliseconds)
{
	SYSTEMTIME now;
	GetLocalTime(&now);
	int n = snprintf(text, size, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
		now.wMinute, now.wSecond);
	if (milliseconds && n > 0 && static_cast<size_t>(n) < size)
		snprintf(text + n, size - n, ".%03u", now.wMilliseconds);
}

void localTimeOf(double unixS, char *text, size_t size)
{
	__time64_t at = static_cast<__time64_t>(unixS);
	struct tm local = {};
	_localtime64_s(&local, &at);
	strftime(text, size, "%Y-%m-%d %H:%M:%S", &local);
}

void lastErrorText(char *text, size_t size)
{
	DWORD error = GetLastError();
	DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
		text, static_cast<DWORD>(size), nullptr);
	while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.' || text[n - 1] == ' '))
		text[--n] = '\0';
	if (n == 0)
		snprintf(text, size, "error %lu", static_cast<unsigned long>(error));
}

// What the kernel says of the time: when it booted, and by how much later
// changes of the wall clock have moved that.
struct TimeOfDayInformation {
	LARGE_INTEGER bootTime;
	LARGE_INTEGER currentTime;
	LARGE_INTEGER timeZoneBias;
	ULONG timeZoneId;
	ULONG reserved;
	ULONGLONG bootTimeBias;
	ULONGLONG sleepTimeBias;
};

typedef LONG(WINAPI *QuerySystemInformation)(ULONG type, void *information, ULONG size, ULONG *returned);

// The moment of boot, as the kernel recorded it: the same for the whole
// boot, whatever is done to the wall clock, and different after a reboot.
bool kernelBootId(char *id, size_t size, char *why, size_t whySize)
{
	const ULONG systemTimeOfDayInformation = 3;
	HMODULE ntdll = GetModuleHandleA("ntdll.dll");
	FARPROC found = ntdll ? GetProcAddress(ntdll, "NtQuerySystemInformation") : nullptr;
	if (!found) {
		snprintf(why, whySize, "cannot tell the boot: no NtQuerySystemInformation");
		return false;
	}
	QuerySystemInformation query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void (*)()>(found));
	TimeOfDayInformation info = {};
	ULONG returned = 0;
	LONG status = query(systemTimeOfDayInformation, &info, sizeof info, &returned);
	if (status < 0 || info.bootTime.QuadPart == 0) {
		snprintf(why, whySize, "cannot tell the boot: the kernel's time of day (status 0x%lx)",
			static_cast<unsigned long>(status));
		return false;
	}
	// In seconds: the kernel's own arithmetic on it may leave a tick.
	unsigned long long boot = (static_cast<unsigned long long>(info.bootTime.QuadPart) - info.bootTimeBias) / 10000000;
	return snprintf(id, size, "boot-%llu", boot) > 0;
}

long ownProcessId()
{
	return static_cast<long>(GetCurrentProcessId());
}

void pauseFor(int64_t ns)
{
	Sleep(static_cast<DWORD>((ns + 999999) / 1000000));
}

void *loadSystemLibrary(const char *name)
{
	return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

LibraryFunction libraryFunction(void *library, const char *name)
{
	return reinterpret_cast<LibraryFunction>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool appendArgument(char *line, size_t size, size_t *at, const char *arg)
{
	auto put = [&](char c) {
		if (*at + 1 >= size)
			return false;
		line[(*at)++] = c;
		return true;
	};
	if (*at && !put(' '))
		return false;
	if (*arg && !strpbrk(arg, " \t\n\v\"")) {
		for (const char *p = arg; *p; p++)
			if (!put(*p))
				return false;
		line[*at] = '\0';
		return true;
	}
	if (!put('"'))
		return false;
	for (const char *p = arg;; p++) {
		size_t backslashes = 0;
		while (*p == '\\') {
			backslashes++;
			p++;
		}
		// Backslashes double before a quote, or before the closing one.
		size_t times = *p == '"' || *p == '\0' ? 2 * backslashes : backslashes;
		for (size_t i = 0; i < times; i++)
			if (!put('\\'))
				return false;
		if (*p == '\0')
			break;
		if ((*p == '"' && !put('\\')) || !put(*p))
			return false;
	}
	if (!put('"'))
		return false;
	line[*at] = '\0';
	return true;
}
