// Windows. The state directory (by default under the user's local
// application data folder, or, for a service of LocalSystem or an elevated
// administrator, the machine's under ProgramData) holds "lock", which every change locks with
// LockFileEx, and "state", which a change replaces by writing "state.new"
// and moving it over the old one, write-through. Readers open the state
// sharing delete access, so the move never waits on them; a process killed
// at any point leaves one of the two states, and its lock goes with its
// handles.
#include "sim_platform.h"

#include "machine_windows.h"

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct StateDir {
	char path[MAX_PATH];
};

struct StateLock {
	HANDLE file;
};

struct StateWatch {
	HANDLE change;
};

const char pathSeparators[] = "\\/";

static const char stateName[] = "state";
static const char newStateName[] = "state.new";
static const char lockName[] = "lock";

// The system's words for its last error, without the final full stop.
static void sayLastError(Reason *why, const char *what)
{
	char words[160];
	lastErrorText(words, sizeof words);
	say(why, "%s: %s", what, words);
}

// The machine's state directory, once the default place has been found
// to be it.
static char machineDir[MAX_PATH];

bool defaultStateDirPath(char *path, size_t size, Reason *why)
{
	if (forTheMachine()) {
		if (!machineDataPath("corvane-sim", machineDir, sizeof machineDir) || strlen(machineDir) >= size) {
			say(why, "cannot tell where ProgramData is");
			return false;
		}
		snprintf(path, size, "%s", machineDir);
		return true;
	}
	const char *local = getenv("LOCALAPPDATA");
	if (!local || !*local) {
		say(why, "LOCALAPPDATA is not set");
		return false;
	}
	int n = snprintf(path, size, "%s\\corvane-sim", local);
	if (n <= 0 || static_cast<size_t>(n) >= size) {
		say(why, "the path of the state directory is too long");
		return false;
	}
	return true;
}

static bool inStateDir(const StateDir *dir, const char *name, char *path)
{
	int n = snprintf(path, MAX_PATH, "%s\\%s", dir->path, name);
	return n > 0 && n < MAX_PATH;
}

static bool createParents(const char *path, Reason *why)
{
	char parent[MAX_PATH];
	snprintf(parent, sizeof parent, "%s", path);
	// Past a drive ("C:\") or a server and share ("\\server\share\").
	char *at = parent;
	if (at[0] && at[1] == ':')
		at += 2;
	for (char *sep = strpbrk(at + 1, pathSeparators); sep; sep = strpbrk(sep + 1, pathSeparators)) {
		char kept = *sep;
		*sep = '\0';
		if (!CreateDirectoryA(parent, nullptr) && GetLastError() != ERROR_ALREADY_EXISTS
		    && GetLastError() != ERROR_ACCESS_DENIED) {
			sayLastError(why, "cannot create a parent of the state directory");
			return false;
		}
		*sep = kept;
	}
	return true;
}

OpenResult openStateDir(const char *path, DirCreation creation, StateDir **dir, Reason *why)
{
	if (strlen(path) >= MAX_PATH - 16) {
		say(why, "the path of the state directory is too long");
		return dirRefused;
	}
	bool machine = machineDir[0] && strcmp(path, machineDir) == 0;
	if (creation == createWithParents && !createParents(path, why))
		return dirRefused;
	bool created = creation != createNothing && (machine ? createMachineDirectory(path, false) : CreateDirectoryA(path, nullptr));
	if (creation != createNothing && !created && GetLastError() != ERROR_ALREADY_EXISTS) {
		sayLastError(why, "cannot create the state directory");
		return dirRefused;
	}
	DWORD attributes = GetFileAttributesA(path);
	if (attributes == INVALID_FILE_ATTRIBUTES) {
		DWORD error = GetLastError();
		if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
			return dirMissing;
		sayLastError(why, "cannot open the state directory");
		return dirRefused;
	}
	// A link or junction could lead anywhere: the directory must be itself.
	if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
		say(why, "refused: the state directory is a link or junction");
		return dirRefused;
	}
	if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
		say(why, "refused: not a directory");
		return dirRefused;
	}
	// Any user may create a folder in ProgramData: the machine's state
	// must not be one that another user put there first.
	if (machine && !ownedByTheMachine(path)) {
		say(why, "refused: the state directory belongs to neither Administrators, SYSTEM nor this user");
		return dirRefused;
	}
	*dir = static_cast<StateDir *>(malloc(sizeof(StateDir)));
	if (!*dir) {
		say(why, "out of memory");
		return dirRefused;
	}
	snprintf((*dir)->path, sizeof (*dir)->path, "%s", path);
	return dirOpened;
}

bool parentDirExists(const char *path)
{
	char parent[MAX_PATH];
	snprintf(parent, sizeof parent, "%s", path);
	char *cut = nullptr;
	for (char *p = parent; *p; p++)
		if (*p == '\\' || *p == '/')
			cut = p;
	if (!cut)
		return true;  // the current directory
	// "C:\x" is held by "C:\", not by "C:".
	cut[cut == parent || cut[-1] == ':'] = '\0';
	DWORD attributes = GetFileAttributesA(parent);
	return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void closeStateDir(StateDir *dir)
{
	free(dir);
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

LockAttempt tryLockStateDir(StateDir *dir, StateLock **lock, Reason *why)
{
	char path[MAX_PATH];
	if (!inStateDir(dir, lockName, path)) {
		say(why, "the path of the lock is too long");
		return lockFailed;
	}
	HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
		FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
		FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	if (file == INVALID_HANDLE_VALUE) {
		sayLastError(why, "cannot open the lock");
		return lockFailed;
	}
	OVERLAPPED firstByte = {};
	if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &firstByte)) {
		bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
		if (!busy)
			sayLastError(why, "cannot lock");
		CloseHandle(file);
		return busy ? lockBusy : lockFailed;
	}
	*lock = static_cast<StateLock *>(malloc(sizeof(StateLock)));
	if (!*lock) {
		say(why, "out of memory");
		CloseHandle(file);
		return lockFailed;
	}
	(*lock)->file = file;
	return lockTaken;
}

void unlockStateDir(StateLock *lock)
{
	// Closing the lock file's handle drops the lock.
	CloseHandle(lock->file);
	free(lock);
}

FileResult readStateFile(StateDir *dir, char *text, size_t size, size_t *length, Reason *why)
{
	char path[MAX_PATH];
	if (!inStateDir(dir, stateName, path)) {
		say(why, "the path of the state is too long");
		return fileFailed;
	}
	HANDLE file = openState(path);
	if (file == INVALID_HANDLE_VALUE) {
		if (GetLastError() == ERROR_FILE_NOT_FOUND)
			return fileMissing;
		sayLastError(why, "cannot open the state");
		return fileFailed;
	}
	BY_HANDLE_FILE_INFORMATION info;
	if (!GetFileInformationByHandle(file, &info)
	    || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
		say(why, "the state is not a regular file");
		CloseHandle(file);
		return fileFailed;
	}
	*length = 0;
	DWORD n = 0;
	while (*length < size) {
		if (!ReadFile(file, text + *length, static_cast<DWORD>(size - *length), &n, nullptr)) {
			sayLastError(why, "cannot read the state");
			CloseHandle(file);
			return fileFailed;
		}
		if (n == 0)
			break;
		*length += n;
	}
	CloseHandle(file);
	return fileRead;
}

bool replaceStateFile(StateDir *dir, const char *text, size_t length, Reason *why)
{
	char statePath[MAX_PATH];
	char newPath[MAX_PATH];
	if (!inStateDir(dir, stateName, statePath) || !inStateDir(dir, newStateName, newPath)) {
		say(why, "the path of the state is too long");
		return false;
	}
	DeleteFileA(newPath);
	HANDLE file = CreateFileA(newPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE) {
		sayLastError(why, "cannot save the state");
		return false;
	}
	DWORD written = 0;
	bool saved = WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr) && written == length
		&& FlushFileBuffers(file);
	if (!saved)
		sayLastError(why, "cannot save the state");
	saved = CloseHandle(file) && saved;
	// Write-through: the move is on disk when it returns.
	if (saved && !replaceState(newPath, statePath)) {
		sayLastError(why, "cannot save the state");
		saved = false;
	}
	if (!saved)
		DeleteFileA(newPath);
	return saved;
}

StateWatch *watchStateDir(const char *path)
{
	HANDLE change = FindFirstChangeNotificationA(path, FALSE,
		FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE);
	if (change == INVALID_HANDLE_VALUE)
		return nullptr;
	StateWatch *watch = static_cast<StateWatch *>(malloc(sizeof(StateWatch)));
	if (!watch) {
		FindCloseChangeNotification(change);
		return nullptr;
	}
	watch->change = change;
	return watch;
}

void waitForChange(StateWatch *watch, int64_t timeoutNs)
{
	DWORD ms = static_cast<DWORD>(timeoutNs / 1000000 + 1);
	if (!watch) {
		Sleep(ms);
		return;
	}
	if (WaitForSingleObject(watch->change, ms) == WAIT_OBJECT_0)
		FindNextChangeNotification(watch->change);
}

void closeStateWatch(StateWatch *watch)
{
	if (!watch)
		return;
	FindCloseChangeNotification(watch->change);
	free(watch);
}
