// Windows: the machine's own data; see machine_windows.h.
#include "machine_windows.h"

#include "system.h"

#include <windows.h>
#include <sddl.h>

#include <cstdio>

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
	decltype(&RegGetValueA) registryValue;
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
		&& findFunction(library, "ConvertStringSecurityDescriptorToSecurityDescriptorA", &api.descriptor)
		&& findFunction(library, "RegGetValueA", &api.registryValue);
	return api.loaded;
}

static bool wellKnown(WELL_KNOWN_SID_TYPE type, SID *sid)
{
	DWORD size = SECURITY_MAX_SID_SIZE;
	return api.wellKnownSid(type, nullptr, sid, &size);
}

bool forTheMachine()
{
	if (!loadApi())
		return false;
	alignas(SID) BYTE admins[SECURITY_MAX_SID_SIZE];
	BOOL member = FALSE;
	// Administrators enabled in the token: elevated, or LocalSystem.
	return wellKnown(WinBuiltinAdministratorsSid, reinterpret_cast<SID *>(admins))
		&& api.checkMembership(nullptr, admins, &member) && member;
}

bool machineDataPath(const char *name, char *path, size_t size)
{
	// Where the system keeps ProgramData (a REG_EXPAND_SZ, expanded),
	// rather than the environment, which a service may be given
	// differently.
	char place[MAX_PATH];
	DWORD length = sizeof place;
	if (!loadApi() || api.registryValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
			"ProgramData", RRF_RT_REG_SZ, nullptr, place, &length) != ERROR_SUCCESS) {
		DWORD n = GetEnvironmentVariableA("ProgramData", place, sizeof place);
		if (n == 0 || n >= sizeof place)
			return false;
	}
	int n = snprintf(path, size, "%s\\%s", place, name);
	return n > 0 && static_cast<size_t>(n) < size;
}

bool createMachineDirectory(const char *path, bool usersRead)
{
	// Full control for SYSTEM and Administrators, nothing inherited.
	PSECURITY_DESCRIPTOR descriptor = nullptr;
	const char *access = usersRead ? "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)"
		: "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
	if (!loadApi() || !api.descriptor(access, SDDL_REVISION_1, &descriptor, nullptr))
		return false;
	SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
	bool made = CreateDirectoryA(path, &attributes);
	DWORD error = GetLastError();
	LocalFree(descriptor);
	SetLastError(error);
	return made;
}

bool ownedByTheMachine(const char *path)
{
	if (!loadApi())
		return false;
	alignas(SECURITY_DESCRIPTOR) BYTE security[4096];
	DWORD needed = 0;
	PSID owner = nullptr;
	BOOL defaulted = FALSE;
	if (!api.fileSecurity(path, OWNER_SECURITY_INFORMATION, security, sizeof security, &needed)
		|| !api.owner(security, &owner, &defaulted) || !owner)
		return false;
	alignas(SID) BYTE sid[SECURITY_MAX_SID_SIZE];
	if (wellKnown(WinBuiltinAdministratorsSid, reinterpret_cast<SID *>(sid)) && api.equalSid(owner, sid))
		return true;
	if (wellKnown(WinLocalSystemSid, reinterpret_cast<SID *>(sid)) && api.equalSid(owner, sid))
		return true;
	// Or whoever runs this, as on Linux: an administrator's own.
	HANDLE token;
	if (!api.openToken(GetCurrentProcess(), TOKEN_QUERY, &token))
		return false;
	alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
	bool mine = api.tokenInformation(token, TokenUser, user, sizeof user, &needed)
		&& api.equalSid(owner, reinterpret_cast<TOKEN_USER *>(user)->User.Sid);
	CloseHandle(token);
	return mine;
}
