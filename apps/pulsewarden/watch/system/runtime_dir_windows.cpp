// Windows: the lock is DIR\watch.lock held open without sharing its
// writing, which the system lets go when the process ends. The machine's
// directory, under ProgramData, where any user may make a folder, is
// made for SYSTEM and Administrators (others may read it), and refused
// when someone else made it first. advapi32 is loaded when it is needed.
#include "runtime_dir.h"

#include "service_manager.h"
#include "system.h"

#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>

static struct {
	bool loaded;
	decltype(&OpenProcessToken) openToken;
	decltype(&GetTokenInformation) tokenInformation;
	decltype(&CheckTokenMembership) checkMembership;
	decltype(&CreateWellKnownSid) wellKnownSid;
	decltype(&EqualSid) equalSid;
	decltype(&GetFileSecurityA) fileSecurity;
	decltype(&GetSecurityDescriptorOwner) owner;
	decltype(&ConvertStringSecurityDescriptorToSecurityDescriptorA) descriptor;
} api;

static bool loadApi()
{
	if (api.loaded)
		return true;
	void *library = loadSystemLibrary("advapi32.dll");
	api.loaded = library && findFunction(library, "OpenProcessToken", &api.openToken)
		&& findFunction(library, "GetTokenInformation", &api.tokenInformation)
		&& findFunction(library, "CheckTokenMembership", &api.checkMembership)
		&& findFunction(library, "CreateWellKnownSid", &api.wellKnownSid)
		&& findFunction(library, "EqualSid", &api.equalSid)
		&& findFunction(library, "GetFileSecurityA", &api.fileSecurity)
		&& findFunction(library, "GetSecurityDescriptorOwner", &api.owner)
		&& findFunction(library, "ConvertStringSecurityDescriptorToSecurityDescriptorA", &api.descriptor);
	return api.loaded;
}

static bool wellKnown(WELL_KNOWN_SID_TYPE type, SID *sid)
{
	DWORD size = SECURITY_MAX_SID_SIZE;
	return api.wellKnownSid(type, nullptr, sid, &size);
}

// Administrators enabled in the token: an elevated prompt, or LocalSystem.
static bool forTheMachine()
{
	alignas(SID) BYTE admins[SECURITY_MAX_SID_SIZE];
	BOOL member = FALSE;
	return servedByServiceManager() || (loadApi() && wellKnown(WinBuiltinAdministratorsSid, reinterpret_cast<SID *>(admins))
		&& api.checkMembership(nullptr, admins, &member) && member);
}

bool defaultRuntimeDir(char *path, size_t size, char *why, size_t whySize)
{
	const char *variable = forTheMachine() ? "ProgramData" : "LOCALAPPDATA";
	char place[MAX_PATH];
	DWORD n = GetEnvironmentVariableA(variable, place, sizeof place);
	int made = n > 0 && n < sizeof place ? snprintf(path, size, "%s\\pulsewarden", place) : -1;
	if (made < 0 || static_cast<size_t>(made) >= size) {
		snprintf(why, whySize, "%%%s%% is not set", variable);
		return false;
	}
	return true;
}

// Owned by SYSTEM, Administrators, or whoever runs this (an elevated
// administrator's own, as the system may make it): not another user's.
static bool ownedByTheMachine(const char *path)
{
	alignas(SECURITY_DESCRIPTOR) BYTE security[4096];
	DWORD needed = 0;
	PSID owner = nullptr;
	BOOL defaulted = FALSE;
	if (!api.fileSecurity(path, OWNER_SECURITY_INFORMATION, security, sizeof security, &needed)
		|| !api.owner(security, &owner, &defaulted) || !owner)
		return false;
	alignas(SID) BYTE sid[SECURITY_MAX_SID_SIZE];
	static const WELL_KNOWN_SID_TYPE machine[] = {WinBuiltinAdministratorsSid, WinLocalSystemSid};
	for (WELL_KNOWN_SID_TYPE type : machine)
		if (wellKnown(type, reinterpret_cast<SID *>(sid)) && api.equalSid(owner, sid))
			return true;
	HANDLE token;
	if (!api.openToken(GetCurrentProcess(), TOKEN_QUERY, &token))
		return false;
	alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
	bool mine = api.tokenInformation(token, TokenUser, user, sizeof user, &needed)
		&& api.equalSid(owner, reinterpret_cast<TOKEN_USER *>(user)->User.Sid);
	CloseHandle(token);
	return mine;
}

static bool ownDirectory(const char *dir, char *why, size_t size)
{
	bool machine = forTheMachine() && loadApi();
	PSECURITY_DESCRIPTOR descriptor = nullptr;
	// Full control for SYSTEM and Administrators, reading for users.
	if (machine && !api.descriptor("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)", SDDL_REVISION_1,
			&descriptor, nullptr))
		machine = false;
	SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
	bool made = CreateDirectoryA(dir, descriptor ? &attributes : nullptr);
	DWORD error = GetLastError();
	if (descriptor)
		LocalFree(descriptor);
	if (!made && error != ERROR_ALREADY_EXISTS) {
		SetLastError(error);
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "cannot make %s: %s", dir, words);
		return false;
	}
	DWORD attributesFound = GetFileAttributesA(dir);
	if (attributesFound == INVALID_FILE_ATTRIBUTES || !(attributesFound & FILE_ATTRIBUTE_DIRECTORY)
		|| (attributesFound & FILE_ATTRIBUTE_REPARSE_POINT)) {
		snprintf(why, size, "%s is not a directory", dir);
		return false;
	}
	if (machine && !ownedByTheMachine(dir)) {
		snprintf(why, size, "%s was made by another user: remove it", dir);
		return false;
	}
	return true;
}

LockResult lockRuntimeDir(const char *dir, long *holder, char *why, size_t size)
{
	*holder = 0;
	if (!ownDirectory(dir, why, size))
		return lockFailed;
	char path[MAX_PATH + 16];
	snprintf(path, sizeof path, "%s\\watch.lock", dir);
	HANDLE lock = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
		FILE_ATTRIBUTE_NORMAL, nullptr);
	if (lock == INVALID_HANDLE_VALUE) {
		if (GetLastError() == ERROR_SHARING_VIOLATION) {
			HANDLE held = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
				FILE_ATTRIBUTE_NORMAL, nullptr);
			char text[32] = "";
			DWORD n = 0;
			if (held != INVALID_HANDLE_VALUE) {
				if (ReadFile(held, text, sizeof text - 1, &n, nullptr))
					text[n] = '\0';
				CloseHandle(held);
			}
			*holder = strtol(text, nullptr, 10);
			snprintf(why, size, "%s", path);
			return lockHeldByAnother;
		}
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "cannot open %s: %s", path, words);
		return lockFailed;
	}
	char pid[32];
	int n = snprintf(pid, sizeof pid, "%lu\r\n", static_cast<unsigned long>(GetCurrentProcessId()));
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
