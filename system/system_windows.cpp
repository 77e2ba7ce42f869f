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

long ownProcessId()
{
	return static_cast<long>(GetCurrentProcessId());
}

bool absolutePath(const char *path)
{
	auto separator = [](char c) { return c == '\\' || c == '/'; };
	bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':'
		&& separator(path[2]);
	return drive || (separator(path[0]) && separator(path[1]));
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
