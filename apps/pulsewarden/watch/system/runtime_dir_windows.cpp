// Windows: a lock is a file (DIR\watch.lock, monitoring.lock) held open
// without sharing its writing, which the system lets go when the process
// ends. The machine's directory, under ProgramData, where any user may
// make a folder, is made for SYSTEM and Administrators (users may read
// it), and refused when someone else made it first.
#include "runtime_dir.h"

#include "machine_windows.h"
#include "service_manager.h"
#include "system.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// The service, or an elevated administrator: the machine's watcher.
static bool machineWatcher()
{
	return servedByServiceManager() || forTheMachine();
}

bool defaultRuntimeDir(char *path, size_t size, char *why, size_t whySize)
{
	if (machineWatcher()) {
		if (machineDataPath("pulsewarden", path, size))
			return true;
		snprintf(why, whySize, "%%ProgramData%% is not set");
		return false;
	}
	char place[MAX_PATH];
	DWORD n = GetEnvironmentVariableA("LOCALAPPDATA", place, sizeof place);
	int made = n > 0 && n < sizeof place ? snprintf(path, size, "%s\\pulsewarden", place) : -1;
	if (made < 0 || static_cast<size_t>(made) >= size) {
		snprintf(why, whySize, "%%LOCALAPPDATA%% is not set");
		return false;
	}
	return true;
}

static bool ownDirectory(const char *dir, char *why, size_t size)
{
	bool machine = machineWatcher();
	bool made = machine ? createMachineDirectory(dir, true) : CreateDirectoryA(dir, nullptr);
	if (!made && GetLastError() != ERROR_ALREADY_EXISTS) {
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "cannot make %s: %s", dir, words);
		return false;
	}
	DWORD attributes = GetFileAttributesA(dir);
	if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)
		|| (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
		snprintf(why, size, "%s is not a directory", dir);
		return false;
	}
	if (machine && !ownedByTheMachine(dir)) {
		snprintf(why, size, "%s was made by another user: remove it", dir);
		return false;
	}
	return true;
}

// The process id its holder wrote in the lock, which others may read
// while it holds it; 0 when there is none.
static long holderOf(const char *path)
{
	HANDLE held = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
		FILE_ATTRIBUTE_NORMAL, nullptr);
	char text[32] = "";
	DWORD n = 0;
	if (held != INVALID_HANDLE_VALUE) {
		if (ReadFile(held, text, sizeof text - 1, &n, nullptr))
			text[n] = '\0';
		CloseHandle(held);
	}
	return strtol(text, nullptr, 10);
}

// The lock at `path`, in the directory `dir`, held for as long as the
// process runs, with its process id in it.
static LockResult takeLock(const char *dir, const char *path, const char *place, long *holder, char *why, size_t size)
{
	*holder = 0;
	if (!ownDirectory(dir, why, size))
		return lockFailed;
	// A reader that looks whether a watcher runs (status, --reload) has it
	// open for an instant: while it names no process that runs, it is
	// tried again for up to 2 s, so that a look never turns a starting
	// watcher away.
	HANDLE lock;
	for (int tries = 0;; tries++) {
		lock = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
			FILE_ATTRIBUTE_NORMAL, nullptr);
		if (lock != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION || tries == 200)
			break;
		long pid = holderOf(path);
		char seen[160];
		bool runs = pid > 0 && processSeen(pid, "", seen, sizeof seen) != processEnded;
		SetLastError(ERROR_SHARING_VIOLATION);
		if (runs)
			break;
		Sleep(10);
	}
	if (lock == INVALID_HANDLE_VALUE) {
		if (GetLastError() == ERROR_SHARING_VIOLATION) {
			*holder = holderOf(path);
			snprintf(why, size, "%s", path);
			return lockHeldByAnother;
		}
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "cannot open %s: %s", path, words);
		return lockFailed;
	}
	char pid[MAX_PATH + 64];
	int n = snprintf(pid, sizeof pid, "%lu\r\n%s%s", static_cast<unsigned long>(GetCurrentProcessId()),
		place ? place : "", place ? "\r\n" : "");
	n = n < static_cast<int>(sizeof pid) ? n : static_cast<int>(sizeof pid) - 1;
	DWORD written = 0;
	if (!WriteFile(lock, pid, static_cast<DWORD>(n), &written, nullptr) || !SetEndOfFile(lock)) {
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "cannot write %s: %s", path, words);
		CloseHandle(lock);
		return lockFailed;
	}
	// Held until the process ends: the handle is never closed.
	return lockHeld;
}

LockResult lockRuntimeDir(const char *dir, long *holder, char *why, size_t size)
{
	char path[MAX_PATH + 16];
	snprintf(path, sizeof path, "%s\\watch.lock", dir);
	return takeLock(dir, path, nullptr, holder, why, size);
}

bool monitoringLockPath(char *path, size_t size, char *why, size_t whySize)
{
	char named[MAX_PATH];
	DWORD n = GetEnvironmentVariableA("PULSEWARDEN_LOCK", named, sizeof named);
	if (n >= sizeof named) {
		snprintf(why, whySize, "PULSEWARDEN_LOCK is too long");
		return false;
	}
	if (n > 0) {
		snprintf(path, size, "%s", named);
		return true;
	}
	char dir[MAX_PATH];
	if (!defaultRuntimeDir(dir, sizeof dir, why, whySize))
		return false;
	snprintf(path, size, "%s\\monitoring.lock", dir);
	return true;
}

LockResult lockMonitoring(const char *path, const char *runtimeDir, long *holder, char *why, size_t size)
{
	char dir[MAX_PATH + 16];
	snprintf(dir, sizeof dir, "%s", path);
	char *slash = strrchr(dir, '\\');
	char *other = strrchr(dir, '/');
	if (!slash || (other && other > slash))
		slash = other;
	if (slash)
		*slash = '\0';
	return takeLock(dir, path, runtimeDir, holder, why, size);
}

// Held: its watcher keeps it open for writing. Opened to be read, sharing
// only reading, it cannot be while that lasts; an ordinary user, who may
// not write the machine's, may still ask so.
static Holding lockHolding(const char *path, char *why, size_t size)
{
	HANDLE probe = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
		nullptr);
	DWORD error = GetLastError();
	if (probe != INVALID_HANDLE_VALUE) {
		CloseHandle(probe);
		snprintf(why, size, "no watcher runs here (%s is not held)", path);
		return holdingNone;
	}
	if (error == ERROR_SHARING_VIOLATION)
		return holdingHeld;
	char words[160];
	lastErrorText(words, sizeof words);
	if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
		snprintf(why, size, "no watcher runs here (%s: %s)", path, words);
		return holdingNone;
	}
	snprintf(why, size, "cannot open %s: %s", path, words);
	return holdingUntold;
}

// The process id that holds the machine's lock at `path`, and the
// runtime directory it wrote there; 0 when none does, or it cannot be read.
static long lockedPlace(const char *path, char *dir, size_t size)
{
	char why[300];
	if (lockHolding(path, why, sizeof why) != holdingHeld)
		return 0;
	HANDLE held = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
		FILE_ATTRIBUTE_NORMAL, nullptr);
	char text[MAX_PATH + 64] = "";
	DWORD n = 0;
	if (held != INVALID_HANDLE_VALUE) {
		if (ReadFile(held, text, sizeof text - 1, &n, nullptr))
			text[n] = '\0';
		CloseHandle(held);
	}
	long pid = strtol(text, nullptr, 10);
	const char *place = strchr(text, '\n');
	if (pid <= 0 || !place || !place[1])
		return 0;
	snprintf(dir, size, "%.*s", static_cast<int>(strcspn(place + 1, "\r\n")), place + 1);
	return pid;
}

long machineWatcher(char *dir, size_t size)
{
	char path[MAX_PATH + 16];
	char why[300];
	if (!monitoringLockPath(path, sizeof path, why, sizeof why))
		return 0;
	return lockedPlace(path, dir, size);
}

bool machineRuntimeDir(char *path, size_t size, char *why, size_t whySize)
{
	char lock[MAX_PATH + 16];
	DWORD n = GetEnvironmentVariableA("PULSEWARDEN_LOCK", lock, sizeof lock);
	if (n >= sizeof lock) {
		snprintf(why, whySize, "PULSEWARDEN_LOCK is too long");
		return false;
	}
	if (n == 0) {
		char dir[MAX_PATH];
		if (!machineDataPath("pulsewarden", dir, sizeof dir)) {
			snprintf(why, whySize, "%%ProgramData%% is not set");
			return false;
		}
		snprintf(lock, sizeof lock, "%s\\monitoring.lock", dir);
	}
	if (lockedPlace(lock, path, size))
		return true;
	char *slash = strrchr(lock, '\\');
	char *other = strrchr(lock, '/');
	if (!slash || (other && other > slash))
		slash = other;
	if (slash)
		*slash = '\0';
	snprintf(path, size, "%s", lock);
	return true;
}

Holding watcherHolding(const char *dir, long *pid, char *why, size_t size)
{
	*pid = 0;
	char path[MAX_PATH + 16];
	snprintf(path, sizeof path, "%s\\watch.lock", dir);
	Holding holding = lockHolding(path, why, size);
	if (holding != holdingHeld)
		return holding;
	*pid = holderOf(path);
	if (*pid <= 0) {
		*pid = 0;
		snprintf(why, size, "the watcher that holds %s has not written its process id", path);
	}
	return holdingHeld;
}

long runningWatcher(const char *dir, char *why, size_t size)
{
	long pid;
	return watcherHolding(dir, &pid, why, size) == holdingHeld && pid ? pid : 0;
}

// Its creation time, in 100 ns since 1601: another process given the same
// id later starts later.
static bool creationOf(HANDLE process, char *text, size_t size)
{
	FILETIME created, exited, kernel, user;
	if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
		return false;
	unsigned long long at = (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
	snprintf(text, size, "%llu", at);
	return true;
}

// %ProgramData% is on a disk.
bool runtimeDirInMemory(const char * /*dir*/)
{
	return false;
}

bool processStart(long pid, char *text, size_t size, char *why, size_t whySize)
{
	HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
	bool told = process && creationOf(process, text, size);
	if (!told) {
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, whySize, "cannot look at process %ld: %s", pid, words);
	}
	if (process)
		CloseHandle(process);
	return told;
}

ProcessSeen processSeen(long pid, const char *start, char *why, size_t size)
{
	HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
	if (!process) {
		// No such process: the id names none.
		if (GetLastError() == ERROR_INVALID_PARAMETER) {
			snprintf(why, size, "process %ld has ended", pid);
			return processEnded;
		}
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "cannot look at process %ld: %s", pid, words);
		return processUntold;
	}
	DWORD code = 0;
	char now[32] = "";
	bool ended = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
	bool told = creationOf(process, now, sizeof now);
	CloseHandle(process);
	if (ended || (told && start[0] && strcmp(now, start) != 0)) {
		snprintf(why, size, ended ? "process %ld has ended" : "process %ld has ended (another has its id now)", pid);
		return processEnded;
	}
	if (told && start[0])
		return processRuns;
	snprintf(why, size, "a process %ld runs, but when its watcher started cannot be told, to tell it from another "
		"given the same id", pid);
	return processUntold;
}

bool askToReload(long /*pid*/, char *why, size_t size)
{
	// A console program has no signal to be asked with: the service is
	// asked through the service control manager.
	snprintf(why, size, "on Windows the service reads its configuration again: pulsewarden service reload");
	return false;
}

bool defaultStateDir(char *path, size_t size, char *why, size_t whySize)
{
	return defaultRuntimeDir(path, size, why, whySize);
}

bool makeStateDir(const char *dir, char *why, size_t size)
{
	return ownDirectory(dir, why, size);
}
