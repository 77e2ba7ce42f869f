// Windows: written as PATH.tmp, then moved over the file with write-through.
#include "files.h"

#include "system.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char pathSeparator = '\\';

static bool temporaryBeside(const char *path, char *temporary, size_t size)
{
	int n = snprintf(temporary, size, "%s.tmp", path);
	if (n < 0 || static_cast<size_t>(n) >= size) {
		SetLastError(ERROR_FILENAME_EXCED_RANGE);
		return false;
	}
	return true;
}

// Full control for SYSTEM, Administrators and this process's user, nothing
// inherited: the machine's runtime directory passes read on to Users, for
// the status. Null, with the error set, when it cannot be made.
static PSECURITY_DESCRIPTOR privateDescriptor()
{
	static struct {
		bool loaded;
		decltype(&OpenProcessToken) openToken;
		decltype(&GetTokenInformation) tokenInformation;
		decltype(&ConvertSidToStringSidA) sidText;
		decltype(&ConvertStringSecurityDescriptorToSecurityDescriptorA) descriptor;
	} api;
	if (!api.loaded) {
		void *library = loadSystemLibrary("advapi32.dll");
		api.loaded = library && findFunction(library, "OpenProcessToken", &api.openToken)
			&& findFunction(library, "GetTokenInformation", &api.tokenInformation)
			&& findFunction(library, "ConvertSidToStringSidA", &api.sidText)
			&& findFunction(library, "ConvertStringSecurityDescriptorToSecurityDescriptorA", &api.descriptor);
		if (!api.loaded) {
			SetLastError(ERROR_PROC_NOT_FOUND);
			return nullptr;
		}
	}
	alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
	HANDLE token;
	DWORD needed = 0;
	char *self = nullptr;
	if (api.openToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
		if (api.tokenInformation(token, TokenUser, user, sizeof user, &needed))
			api.sidText(reinterpret_cast<TOKEN_USER *>(user)->User.Sid, &self);
		CloseHandle(token);
	}
	if (!self)
		return nullptr;
	char access[256];
	snprintf(access, sizeof access, "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;%s)", self);
	LocalFree(self);
	PSECURITY_DESCRIPTOR descriptor = nullptr;
	return api.descriptor(access, SDDL_REVISION_1, &descriptor, nullptr) ? descriptor : nullptr;
}

// With `access`, a fresh file: one left there would keep its own.
static HANDLE createBeside(const char *path, PSECURITY_DESCRIPTOR access, char *temporary, size_t size)
{
	if (!temporaryBeside(path, temporary, size))
		return INVALID_HANDLE_VALUE;
	if (access)
		DeleteFileA(temporary);
	SECURITY_ATTRIBUTES attributes = {sizeof attributes, access, FALSE};
	return CreateFileA(temporary, GENERIC_WRITE, 0, access ? &attributes : nullptr, CREATE_ALWAYS,
		FILE_ATTRIBUTE_NORMAL, nullptr);
}

static bool sayError(char *why, size_t size)
{
	lastErrorText(why, size);
	return false;
}

// With `durable`, the file flushed to disk before it takes the old one's
// place; the move is written through either way, and keeps the access the
// file was made with.
static bool replace(const char *path, const char *text, size_t length, bool secret, bool durable, char *why,
	size_t size)
{
	char temporary[MAX_PATH + 8];
	PSECURITY_DESCRIPTOR access = secret ? privateDescriptor() : nullptr;
	if (secret && !access)
		return sayError(why, size);
	HANDLE file = createBeside(path, access, temporary, sizeof temporary);
	DWORD made = GetLastError();
	if (access)
		LocalFree(access);
	SetLastError(made);
	if (file == INVALID_HANDLE_VALUE)
		return sayError(why, size);
	bool written = true;
	for (size_t at = 0; written && at < length;) {
		DWORD n = 0;
		written = WriteFile(file, text + at, static_cast<DWORD>(length - at), &n, nullptr) && n > 0;
		at += n;
	}
	if (written && durable)
		written = FlushFileBuffers(file);
	DWORD error = GetLastError();
	CloseHandle(file);
	// A reader that holds the old file without sharing its deletion
	// refuses the move for a moment: tried again, briefly.
	for (int attempt = 0; written && attempt < 50; attempt++) {
		if (MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
			return true;
		error = GetLastError();
		if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION)
			break;
		Sleep(1);
	}
	DeleteFileA(temporary);
	SetLastError(error);
	return sayError(why, size);
}

bool replaceFile(const char *path, const char *text, size_t length, char *why, size_t size)
{
	return replace(path, text, length, false, false, why, size);
}

bool replacePrivateFile(const char *path, const char *text, size_t length, char *why, size_t size)
{
	return replace(path, text, length, true, false, why, size);
}

bool replaceFileDurably(const char *path, const char *text, size_t length, char *why, size_t size)
{
	return replace(path, text, length, false, true, why, size);
}

struct FixedFile {
	HANDLE handle;
};

FixedFile *openFixedFile(const char *path, const char *bytes, size_t length, char *why, size_t size)
{
	if (bytes && !replaceFileDurably(path, bytes, length, why, size))
		return nullptr;
	// Readers may look while it is open; no one replaces or removes it.
	HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
		FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	if (handle == INVALID_HANDLE_VALUE) {
		sayError(why, size);
		return nullptr;
	}
	LARGE_INTEGER held;
	BY_HANDLE_FILE_INFORMATION info;
	if (!GetFileSizeEx(handle, &held) || !GetFileInformationByHandle(handle, &info)
		|| (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
		|| static_cast<unsigned long long>(held.QuadPart) != length) {
		snprintf(why, size, "not a file of %zu bytes", length);
		CloseHandle(handle);
		return nullptr;
	}
	FixedFile *file = static_cast<FixedFile *>(malloc(sizeof(FixedFile)));
	if (!file) {
		snprintf(why, size, "out of memory");
		CloseHandle(handle);
		return nullptr;
	}
	file->handle = handle;
	return file;
}

bool writeInPlace(FixedFile *file, size_t offset, const char *bytes, size_t length, char *why, size_t size)
{
	for (size_t at = 0; at < length;) {
		OVERLAPPED where = {};
		unsigned long long position = offset + at;
		where.Offset = static_cast<DWORD>(position);
		where.OffsetHigh = static_cast<DWORD>(position >> 32);
		DWORD n = 0;
		if (!WriteFile(file->handle, bytes + at, static_cast<DWORD>(length - at), &n, &where) || n == 0)
			return sayError(why, size);
		at += n;
	}
	return FlushFileBuffers(file->handle) || sayError(why, size);
}

void closeFixedFile(FixedFile *file)
{
	if (!file)
		return;
	CloseHandle(file->handle);
	free(file);
}

bool neverReplaceable(const char *path, char *why, size_t size)
{
	DWORD attributes = GetFileAttributesA(path);
	char directory[MAX_PATH];
	snprintf(directory, sizeof directory, "%s", path);
	char *last = strrchr(directory, '\\');
	if (last)
		*last = '\0';
	DWORD above = last ? GetFileAttributesA(directory) : INVALID_FILE_ATTRIBUTES;
	const char *problem = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
			? "a link is there (give the file's own path)"
		: attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? "Is a directory"
		: above != INVALID_FILE_ATTRIBUTES && !(above & FILE_ATTRIBUTE_DIRECTORY) ? "Not a directory"
		: nullptr;
	if (problem)
		snprintf(why, size, "%s", problem);
	return problem != nullptr;
}

void removeFile(const char *path)
{
	DeleteFileA(path);
}

bool pathExists(const char *path)
{
	return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool readWholeFile(const char *path, size_t most, char **text, size_t *length, char *why, size_t size)
{
	*text = nullptr;
	HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
		OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE) {
		lastErrorText(why, size);
		return false;
	}
	char *buffer = static_cast<char *>(malloc(most + 1));
	size_t have = 0;
	DWORD n = 1;
	bool read = buffer != nullptr;
	while (read && have <= most && n) {
		DWORD chunk = static_cast<DWORD>(most + 1 - have < 65536 ? most + 1 - have : 65536);
		read = ReadFile(file, buffer + have, chunk, &n, nullptr) != 0;
		have += n;
		if (have == most + 1)
			break;
	}
	if (!read)
		lastErrorText(why, size);
	CloseHandle(file);
	if (!buffer || !read || have > most) {
		if (!buffer || have > most)
			snprintf(why, size, "%s", !buffer ? "not enough memory" : "the file is too large");
		free(buffer);
		return false;
	}
	buffer[have] = '\0';
	*text = buffer;
	*length = have;
	return true;
}

bool namesEndingIn(const char *dir, const char *suffix, bool (*keep)(const char *name, void *context), void *context,
	char *why, size_t size)
{
	char pattern[MAX_PATH];
	snprintf(pattern, sizeof pattern, "%s\\*%s", dir, suffix);
	WIN32_FIND_DATAA found;
	HANDLE search = FindFirstFileA(pattern, &found);
	if (search == INVALID_HANDLE_VALUE) {
		DWORD error = GetLastError();
		lastErrorText(why, size);
		return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
	}
	size_t suffixLength = strlen(suffix);
	bool kept = true;
	do {
		size_t length = strlen(found.cFileName);
		// "*.toml" also finds "x.tomlx" by its short name: the whole name decides.
		if (found.cFileName[0] != '.' && !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && length > suffixLength
			&& _stricmp(found.cFileName + length - suffixLength, suffix) == 0)
			kept = keep(found.cFileName, context);
	} while (kept && FindNextFileA(search, &found));
	FindClose(search);
	if (!kept)
		snprintf(why, size, "not enough memory");
	return kept;
}

// advapi32, loaded when who may read or change a file is first asked.
static struct {
	bool loaded;
	decltype(&GetSecurityInfo) securityInfo;
	decltype(&GetAce) ace;
	decltype(&EqualSid) equalSid;
	decltype(&CreateWellKnownSid) wellKnownSid;
	decltype(&ConvertStringSidToSidA) sidOfText;
	decltype(&ConvertSidToStringSidA) sidText;
	decltype(&GetLengthSid) sidLength;
	decltype(&LookupAccountSidA) accountName;
	decltype(&OpenProcessToken) openToken;
	decltype(&GetTokenInformation) tokenInformation;
} security;

// Who may change the machine's files anyway: SYSTEM, Administrators,
// TrustedInstaller (the system's own files are its), and the watcher's
// own account (a service's virtual account, or the administrator who runs
// it).
static struct {
	alignas(SID) BYTE sids[4][SECURITY_MAX_SID_SIZE];
	int count;
} trusted;

static bool initSecurity()
{
	void *library = loadSystemLibrary("advapi32.dll");
	security.loaded = library && findFunction(library, "GetSecurityInfo", &security.securityInfo)
		&& findFunction(library, "GetAce", &security.ace) && findFunction(library, "EqualSid", &security.equalSid)
		&& findFunction(library, "CreateWellKnownSid", &security.wellKnownSid)
		&& findFunction(library, "ConvertStringSidToSidA", &security.sidOfText)
		&& findFunction(library, "ConvertSidToStringSidA", &security.sidText)
		&& findFunction(library, "GetLengthSid", &security.sidLength)
		&& findFunction(library, "LookupAccountSidA", &security.accountName)
		&& findFunction(library, "OpenProcessToken", &security.openToken)
		&& findFunction(library, "GetTokenInformation", &security.tokenInformation);
	if (!security.loaded)
		return false;
	DWORD n = SECURITY_MAX_SID_SIZE;
	if (security.wellKnownSid(WinLocalSystemSid, nullptr, trusted.sids[trusted.count], &n))
		trusted.count++;
	n = SECURITY_MAX_SID_SIZE;
	if (security.wellKnownSid(WinBuiltinAdministratorsSid, nullptr, trusted.sids[trusted.count], &n))
		trusted.count++;
	PSID installer = nullptr;
	if (security.sidOfText("S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", &installer)) {
		DWORD length = security.sidLength(installer);
		memcpy(trusted.sids[trusted.count++], installer, length < SECURITY_MAX_SID_SIZE ? length : SECURITY_MAX_SID_SIZE);
		LocalFree(installer);
	}
	HANDLE token;
	if (security.openToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
		alignas(TOKEN_USER) BYTE user[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
		DWORD needed = 0;
		PSID self = security.tokenInformation(token, TokenUser, user, sizeof user, &needed)
			? reinterpret_cast<TOKEN_USER *>(user)->User.Sid : nullptr;
		if (self)
			memcpy(trusted.sids[trusted.count++], self, security.sidLength(self));
		CloseHandle(token);
	}
	return true;
}

// Once, whichever thread asks first: probes judge their files on theirs.
static bool loadSecurity(const char *path, char *why, size_t size)
{
	static const bool loaded = initSecurity();
	if (!loaded)
		snprintf(why, size, "%s: who may read or change it cannot be told (advapi32.dll)", path);
	return loaded;
}

static bool isTrusted(PSID sid)
{
	for (int i = 0; i < trusted.count; i++)
		if (security.equalSid(sid, trusted.sids[i]))
			return true;
	return false;
}

// An account as an operator knows it (BUILTIN\Users), or its SID.
static void accountOf(PSID sid, char *name, size_t size)
{
	char account[128], domain[128];
	DWORD accountSize = sizeof account, domainSize = sizeof domain;
	SID_NAME_USE use;
	char *text = nullptr;
	if (security.accountName(nullptr, sid, account, &accountSize, domain, &domainSize, &use))
		snprintf(name, size, "%s%s%s", domain, domain[0] ? "\\" : "", account);
	else if (security.sidText(sid, &text)) {
		snprintf(name, size, "%s", text);
		LocalFree(text);
	} else
		snprintf(name, size, "an account");
}

// The owner and access list of what stands at `path`: with `itself`, a
// link as itself (who may point it elsewhere), else where it leads (who
// may read what it leads to); in a descriptor the caller frees.
static bool securityOf(const char *path, bool itself, PSID *owner, PACL *dacl, PSECURITY_DESCRIPTOR *descriptor,
	char *why, size_t size)
{
	HANDLE handle = CreateFileA(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
		OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | (itself ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
	DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError()
		: security.securityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, owner,
			nullptr, dacl, nullptr, descriptor);
	if (handle != INVALID_HANDLE_VALUE)
		CloseHandle(handle);
	if (error == ERROR_SUCCESS)
		return true;
	SetLastError(error);
	char words[160];
	lastErrorText(words, sizeof words);
	snprintf(why, size, "%s: %s", path, words);
	return false;
}

// Someone allowed `rights` on it who is neither trusted nor, with
// `ownerMay`, its owner: named in `who`. No list at all lets everyone in.
static bool othersAllowed(PSID owner, PACL dacl, DWORD rights, bool ownerMay, char *who, size_t size)
{
	if (!dacl) {
		snprintf(who, size, "Everyone");
		return true;
	}
	for (DWORD i = 0; i < dacl->AceCount; i++) {
		void *entry;
		if (!security.ace(dacl, i, &entry))
			continue;
		auto *header = static_cast<ACE_HEADER *>(entry);
		if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE))
			continue;
		auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
		PSID sid = &allowed->SidStart;
		if ((allowed->Mask & rights) && !isTrusted(sid) && !(ownerMay && owner && security.equalSid(sid, owner))) {
			accountOf(sid, who, size);
			return true;
		}
	}
	return false;
}

bool readableByOthers(const char *path, char *why, size_t size)
{
	PSID owner = nullptr;
	PACL dacl = nullptr;
	PSECURITY_DESCRIPTOR descriptor = nullptr;
	if (!loadSecurity(path, why, size) || !securityOf(path, false, &owner, &dacl, &descriptor, why, size))
		return true;
	char who[300];
	bool others = othersAllowed(owner, dacl, FILE_READ_DATA | GENERIC_READ | GENERIC_ALL, true, who, sizeof who);
	LocalFree(descriptor);
	if (others)
		snprintf(why, size, "%s may be read by others than its owner, SYSTEM and Administrators (%s): "
			"icacls \"%s\" /inheritance:r /grant:r SYSTEM:F Administrators:F", path, who, path);
	return others;
}

// What lets its holder change a file, write in a directory, or replace
// what stands in a directory on the way (adding a name beside it does
// not: Users may make folders in C:\ and ProgramData).
static const DWORD changesItself = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
static const DWORD changesFile = changesItself | FILE_WRITE_DATA | FILE_APPEND_DATA | GENERIC_WRITE;
static const DWORD changesDirectory = changesItself | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD
	| GENERIC_WRITE;
static const DWORD changesWay = changesItself | FILE_DELETE_CHILD;

// Whether someone untrusted owns what stands at `path` (an owner may give
// itself any right) or is allowed `rights` on it, with why.
static bool othersMayChange(const char *path, DWORD rights, const char *doing, char *why, size_t size)
{
	PSID owner = nullptr;
	PACL dacl = nullptr;
	PSECURITY_DESCRIPTOR descriptor = nullptr;
	if (!securityOf(path, true, &owner, &dacl, &descriptor, why, size))
		return true;
	char who[300];
	bool others = true;
	if (!owner || !isTrusted(owner)) {
		if (owner)
			accountOf(owner, who, sizeof who);
		snprintf(why, size, "%s is owned by %s, who may change it: icacls \"%s\" /setowner Administrators", path,
			owner ? who : "no one", path);
	} else if (othersAllowed(owner, dacl, rights, false, who, sizeof who)) {
		// A folder's grants reach what is in it, which inherits them.
		const char *inherited = rights == changesFile ? "" : "(OI)(CI)";
		snprintf(why, size, "%s may be %s by %s, not only by SYSTEM and Administrators: icacls \"%s\" /inheritance:r "
			"/remove:g \"%s\" /grant:r SYSTEM:%sF Administrators:%sF", path, doing, who, path, who, inherited,
			inherited);
	} else {
		others = false;
	}
	LocalFree(descriptor);
	return others;
}

// Each directory on the way to `path`, from its drive or share, judged
// for who may replace what stands in it; then `path` itself, as `last`
// says. The same again for where its links lead, when they lead
// elsewhere.
static bool wayChangeable(const char *path, DWORD last, const char *doing, int hops, char *why, size_t size)
{
	// As the system names it without its \\?\ prefix.
	char plain[MAX_PATH + 8];
	if (strncmp(path, "\\\\?\\UNC\\", 8) == 0)
		snprintf(plain, sizeof plain, "\\\\%s", path + 8);
	else
		snprintf(plain, sizeof plain, "%s", path + (strncmp(path, "\\\\?\\", 4) == 0 ? 4 : 0));
	char full[MAX_PATH];
	DWORD n = GetFullPathNameA(plain, sizeof full, full, nullptr);
	if (n == 0 || n >= sizeof full) {
		char words[160];
		if (n)
			snprintf(words, sizeof words, "its path is too long");
		else
			lastErrorText(words, sizeof words);
		snprintf(why, size, "%s: %s", path, words);
		return true;
	}
	if (!loadSecurity(full, why, size))
		return true;
	// The root: "C:\" or "\\server\share\".
	char *rest = full;
	if (full[0] == '\\' && full[1] == '\\') {
		rest = strchr(full + 2, '\\');
		rest = rest ? strchr(rest + 1, '\\') : nullptr;
		rest = rest ? rest + 1 : full + strlen(full);
	} else if (full[0] && full[1] == ':') {
		rest = full + (full[2] == '\\' ? 3 : 2);
	}
	char keep = *rest;
	*rest = '\0';
	bool changeable = rest != full && othersMayChange(full, changesWay, "changed", why, size);
	*rest = keep;
	for (char *end = strchr(rest, '\\'); !changeable && end && end[1]; end = strchr(end + 1, '\\')) {
		*end = '\0';
		changeable = othersMayChange(full, changesWay, "changed", why, size);
		*end = '\\';
	}
	if (changeable || othersMayChange(full, last, doing, why, size))
		return true;
	HANDLE handle = CreateFileA(full, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
		FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	char real[MAX_PATH + 8];
	n = handle == INVALID_HANDLE_VALUE ? 0 : GetFinalPathNameByHandleA(handle, real, sizeof real, FILE_NAME_NORMALIZED);
	if (handle != INVALID_HANDLE_VALUE)
		CloseHandle(handle);
	if (n == 0 || n >= sizeof real || hops == 0)
		return false;
	char target[MAX_PATH + 8];
	if (strncmp(real, "\\\\?\\UNC\\", 8) == 0)
		snprintf(target, sizeof target, "\\\\%s", real + 8);
	else
		snprintf(target, sizeof target, "%s", real + (strncmp(real, "\\\\?\\", 4) == 0 ? 4 : 0));
	return _stricmp(target, full) != 0 && wayChangeable(target, last, doing, hops - 1, why, size);
}

bool writableByOthers(const char *path, char *why, size_t size)
{
	return wayChangeable(path, changesFile, "changed", 8, why, size);
}

// What stands there is a file or a directory, never a FIFO; it and its
// way are judged as writableByOthers judges them.
bool inputTrusted(const char *path, bool directory, char *why, size_t size)
{
	DWORD attributes = GetFileAttributesA(path);
	if (attributes == INVALID_FILE_ATTRIBUTES) {
		char words[160];
		lastErrorText(words, sizeof words);
		snprintf(why, size, "%s: %s", path, words);
		return false;
	}
	if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) != !directory) {
		snprintf(why, size, "%s is %s", path, directory ? "not a directory" : "a directory, not a file");
		return false;
	}
	return !wayChangeable(path, directory ? changesDirectory : changesFile, directory ? "written in" : "changed", 8,
		why, size);
}

bool readInput(const char *path, size_t most, char **text, size_t *length, char *why, size_t size)
{
	if (!inputTrusted(path, false, why, size))
		return false;
	char reason[200];
	if (readWholeFile(path, most, text, length, reason, sizeof reason))
		return true;
	snprintf(why, size, "%s: %s", path, reason);
	return false;
}
