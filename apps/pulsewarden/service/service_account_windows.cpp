#include "service_account_windows.h"

#include "service_windows.h"
#include "system.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>

static struct {
	decltype(&CryptAcquireContextA) acquire;
	decltype(&CryptCreateHash) createHash;
	decltype(&CryptHashData) hashData;
	decltype(&CryptGetHashParam) hashParam;
	decltype(&CryptDestroyHash) destroyHash;
	decltype(&CryptReleaseContext) release;
	decltype(&ConvertStringSidToSidA) textToSid;
	decltype(&GetNamedSecurityInfoA) securityInfo;
	decltype(&SetNamedSecurityInfoA) setSecurityInfo;
	decltype(&SetEntriesInAclA) addEntries;
	bool loaded;
} api;

static bool loadApi(char *why, size_t size)
{
	if (api.loaded)
		return true;
	void *library = loadSystemLibrary("advapi32.dll");
	api.loaded = library && findFunction(library, "CryptAcquireContextA", &api.acquire)
		&& findFunction(library, "CryptCreateHash", &api.createHash) && findFunction(library, "CryptHashData", &api.hashData)
		&& findFunction(library, "CryptGetHashParam", &api.hashParam)
		&& findFunction(library, "CryptDestroyHash", &api.destroyHash)
		&& findFunction(library, "CryptReleaseContext", &api.release)
		&& findFunction(library, "ConvertStringSidToSidA", &api.textToSid)
		&& findFunction(library, "GetNamedSecurityInfoA", &api.securityInfo)
		&& findFunction(library, "SetNamedSecurityInfoA", &api.setSecurityInfo)
		&& findFunction(library, "SetEntriesInAclA", &api.addEntries);
	if (!api.loaded)
		snprintf(why, size, "the security functions cannot be loaded (advapi32.dll)");
	return api.loaded;
}

static bool failed(char *why, size_t size, const char *doing)
{
	char words[200];
	lastErrorText(words, sizeof words);
	snprintf(why, size, "%s: %s", doing, words);
	return false;
}

bool virtualAccountSid(const char *service, char *text, size_t size, char *why, size_t whySize)
{
	if (!loadApi(why, whySize))
		return false;
	wchar_t name[256];
	size_t n = 0;
	for (; service[n] && n < 255; n++)
		name[n] = static_cast<wchar_t>(towupper(static_cast<unsigned char>(service[n])));
	HCRYPTPROV provider = 0;
	HCRYPTHASH hash = 0;
	BYTE digest[20];
	DWORD length = sizeof digest;
	bool hashed = api.acquire(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)
		&& api.createHash(provider, CALG_SHA1, 0, 0, &hash)
		&& api.hashData(hash, reinterpret_cast<const BYTE *>(name), static_cast<DWORD>(n * sizeof(wchar_t)), 0)
		&& api.hashParam(hash, HP_HASHVAL, digest, &length, 0) && length == sizeof digest;
	DWORD error = GetLastError();
	if (hash)
		api.destroyHash(hash);
	if (provider)
		api.release(provider, 0);
	if (!hashed) {
		SetLastError(error);
		return failed(why, whySize, "cannot derive the virtual account's SID");
	}
	// Five little-endian 32-bit numbers, as the SID's sub-authorities.
	unsigned long part[5];
	for (int i = 0; i < 5; i++)
		part[i] = static_cast<unsigned long>(digest[4 * i]) | static_cast<unsigned long>(digest[4 * i + 1]) << 8
			| static_cast<unsigned long>(digest[4 * i + 2]) << 16 | static_cast<unsigned long>(digest[4 * i + 3]) << 24;
	snprintf(text, size, "S-1-5-80-%lu-%lu-%lu-%lu-%lu", part[0], part[1], part[2], part[3], part[4]);
	return true;
}

bool grantVirtualAccount(const char *path, bool write, char *why, size_t size)
{
	char text[96];
	PSID sid = nullptr;
	if (!virtualAccountSid(serviceName, text, sizeof text, why, size))
		return false;
	if (!api.textToSid(text, &sid))
		return failed(why, size, "cannot make the virtual account's SID");
	PACL before = nullptr;
	PSECURITY_DESCRIPTOR descriptor = nullptr;
	DWORD error = api.securityInfo(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &before, nullptr,
		&descriptor);
	PACL after = nullptr;
	if (error == ERROR_SUCCESS) {
		DWORD attributes = GetFileAttributesA(path);
		bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
		EXPLICIT_ACCESS_A entry = {};
		entry.grfAccessPermissions = write ? (FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE | DELETE)
			: (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE);
		entry.grfAccessMode = GRANT_ACCESS;
		entry.grfInheritance = directory ? SUB_CONTAINERS_AND_OBJECTS_INHERIT : NO_INHERITANCE;
		entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
		entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
		entry.Trustee.ptstrName = static_cast<LPSTR>(sid);
		error = api.addEntries(1, &entry, before, &after);
	}
	if (error == ERROR_SUCCESS)
		error = api.setSecurityInfo(const_cast<char *>(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
			nullptr, after, nullptr);
	LocalFree(after);
	LocalFree(descriptor);
	LocalFree(sid);
	if (error != ERROR_SUCCESS) {
		SetLastError(error);
		char doing[400];
		snprintf(doing, sizeof doing, "cannot grant %s %s on %s", virtualAccount, write ? "change" : "read", path);
		return failed(why, size, doing);
	}
	return true;
}
