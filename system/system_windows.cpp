// Windows.
#include "system.h"

#include <windows.h>

#include <cstdio>

int64_t bootClockNs()
{
	// Milliseconds since boot, sleep included; no wall-clock change moves it.
	return static_cast<int64_t>(GetTickCount64()) * 1000000;
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
