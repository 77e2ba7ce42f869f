// Windows. The state directory (by default under the user's local
// application data folder) holds "lock", which every change locks with
// LockFileEx, and "state", which a change replaces by writing "state.new"
// and moving it over the old one. Readers open the state sharing delete
// access, so the move never waits on them; a process killed at any point
// leaves one of the two states, and its lock goes with its handles.
#include "sim_platform.h"

#include "sim_config.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

static const char stateName[] = "state";
static const char newStateName[] = "state.new";
static const char lockName[] = "lock";

// How long a change waits for another process's change before failing.
static const ULONGLONG lockPatienceMs = 10000;

// The open state directory is its path: one call at a time, one slot.
static char openDir[MAX_PATH];
static const int openDirHandle = 3;

bool defaultStateDirPath(char *path, size_t size)
{
	const char *local = getenv("LOCALAPPDATA");
	if (!local || !*local)
		return false;
	int n = snprintf(path, size, "%s\\corvane-sim", local);
	return n > 0 && static_cast<size_t>(n) < size;
}

// Milliseconds since boot, sleep included; no wall-clock change moves it.
int64_t bootClockNs()
{
	return static_cast<int64_t>(GetTickCount64()) * 1000000;
}

// Windows keeps no id of a boot. A heartbeat from before a reboot shows as
// one from the future on the restarted clock, which counts as stale.
bool currentBootId(char *id, size_t size)
{
	return snprintf(id, size, "windows") > 0;
}

static bool inStateDir(const char *name, char *path)
{
	int n = snprintf(path, MAX_PATH, "%s\\%s", openDir, name);
	return n > 0 && n < MAX_PATH;
}

int openStateDir(bool create)
{
	char path[MAX_PATH];
	if (!stateDirPath(path, sizeof path))
		return stateDirRefused;
	if (create && !CreateDirectoryA(path, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
		return stateDirRefused;
	DWORD attributes = GetFileAttributesA(path);
	if (attributes == INVALID_FILE_ATTRIBUTES) {
		DWORD error = GetLastError();
		return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
			? stateDirMissing : stateDirRefused;
	}
	// A link or junction could lead anywhere: the directory must be itself.
	if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
		return stateDirRefused;
	snprintf(openDir, sizeof openDir, "%s", path);
	return openDirHandle;
}

void closeStateDir(int /*dirFd*/)
{
	openDir[0] = '\0';
}

// While one process moves a new state over the old, another opening or
// replacing it can be refused for a moment: such refusals pass, so try again
// a few times before calling it a failure.
static bool momentarilyRefused()
{
	DWORD error = GetLastError();
	return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

static HANDLE openState(const char *path)
{
	HANDLE file = INVALID_HANDLE_VALUE;
	for (int attempt = 0; attempt < 50; attempt++) {
		file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
			nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
		if (file != INVALID_HANDLE_VALUE || !momentarilyRefused())
			break;
		Sleep(1);
	}
	return file;
}

static bool replaceState(const char *newPath, const char *statePath)
{
	for (int attempt = 0; attempt < 50; attempt++) {
		if (MoveFileExA(newPath, statePath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
			return true;
		if (!momentarilyRefused())
			return false;
		Sleep(1);
	}
	return false;
}

static HANDLE handleOf(int value)
{
	return reinterpret_cast<HANDLE>(static_cast<intptr_t>(value));
}

int lockStateDir(int /*dirFd*/)
{
	char path[MAX_PATH];
	if (!inStateDir(lockName, path))
		return -1;
	HANDLE lock = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
		FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
		FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	if (lock == INVALID_HANDLE_VALUE)
		return -1;
	// Poll rather than block, so that a stuck holder costs a bounded wait.
	ULONGLONG deadline = GetTickCount64() + lockPatienceMs;
	DWORD pauseMs = 1;
	OVERLAPPED firstByte = {};
	while (!LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &firstByte)) {
		if (GetLastError() != ERROR_LOCK_VIOLATION || GetTickCount64() > deadline) {
			CloseHandle(lock);
			return -1;
		}
		Sleep(pauseMs);
		if (pauseMs < 8)
			pauseMs *= 2;
	}
	// Handles of a 32-bit process fit an int.
	return static_cast<int>(reinterpret_cast<intptr_t>(lock));
}

void unlockStateDir(int lockFd)
{
	// Closing the lock file's handle drops the lock.
	CloseHandle(handleOf(lockFd));
}

ReadResult readState(int /*dirFd*/, SimState *state)
{
	char path[MAX_PATH];
	if (!inStateDir(stateName, path))
		return stateDamaged;
	HANDLE file = openState(path);
	if (file == INVALID_HANDLE_VALUE)
		return GetLastError() == ERROR_FILE_NOT_FOUND ? stateMissing : stateDamaged;
	BY_HANDLE_FILE_INFORMATION info;
	bool regular = GetFileInformationByHandle(file, &info)
		&& !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
	// One byte more than a state can hold tells an overlong file.
	char text[stateTextMax + 1];
	DWORD length = 0;
	DWORD n = 0;
	bool read = regular;
	while (read && length < sizeof text) {
		read = ReadFile(file, text + length, static_cast<DWORD>(sizeof text - length), &n, nullptr);
		if (!read || n == 0)
			break;
		length += n;
	}
	CloseHandle(file);
	if (!regular || !read)
		return stateDamaged;
	return parseSimState(text, length, state) ? stateRead : stateDamaged;
}

bool writeState(int /*dirFd*/, const SimState *state)
{
	char statePath[MAX_PATH];
	char newPath[MAX_PATH];
	if (!inStateDir(stateName, statePath) || !inStateDir(newStateName, newPath))
		return false;
	char text[stateTextMax];
	DWORD length = static_cast<DWORD>(formatSimState(state, text));

	DeleteFileA(newPath);
	HANDLE file = CreateFileA(newPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE)
		return false;
	DWORD written = 0;
	bool saved = WriteFile(file, text, length, &written, nullptr) && written == length
		&& FlushFileBuffers(file);
	saved = CloseHandle(file) && saved;
	saved = saved && replaceState(newPath, statePath);
	if (!saved)
		DeleteFileA(newPath);
	return saved;
}
