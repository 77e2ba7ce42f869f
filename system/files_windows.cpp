// Windows: written as PATH.tmp, then moved over the file with write-through.
#include "files.h"

#include "system.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

static bool temporaryBeside(const char *path, char *temporary, size_t size)
{
	int n = snprintf(temporary, size, "%s.tmp", path);
	if (n < 0 || static_cast<size_t>(n) >= size) {
		SetLastError(ERROR_FILENAME_EXCED_RANGE);
		return false;
	}
	return true;
}

static HANDLE createBeside(const char *path, char *temporary, size_t size)
{
	if (!temporaryBeside(path, temporary, size))
		return INVALID_HANDLE_VALUE;
	return CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

static bool sayError(char *why, size_t size)
{
	lastErrorText(why, size);
	return false;
}

bool replaceFile(const char *path, const char *text, size_t length, char *why, size_t size)
{
	char temporary[MAX_PATH + 8];
	HANDLE file = createBeside(path, temporary, sizeof temporary);
	if (file == INVALID_HANDLE_VALUE)
		return sayError(why, size);
	bool written = true;
	for (size_t at = 0; written && at < length;) {
		DWORD n = 0;
		written = WriteFile(file, text + at, static_cast<DWORD>(length - at), &n, nullptr) && n > 0;
		at += n;
	}
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
