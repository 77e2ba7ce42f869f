// Files as watch keeps and reads them: its figures replaced whole, so that
// a reader never sees half of them; its configuration read whole, with the
// drop-ins beside it. files_posix.cpp for Linux, files_windows.cpp for
// Windows.
#pragma once

#include <cstddef>

// What joins a directory and a name.
extern const char pathSeparator;

// Replaces the file at `path` with `text`, whole: written beside it (as
// PATH.tmp) and renamed over it, so that a reader sees the old file or the
// new one, never half of either. Mode 0644 on Linux.
bool replaceFile(const char *path, const char *text, size_t length, char *why, size_t size);
// The same, readable by its owner alone, whatever the umask (0600; on
// Windows SYSTEM, Administrators and this process's user, whatever the
// directory passes on): what may hold a secret.
bool replacePrivateFile(const char *path, const char *text, size_t length, char *why, size_t size);
// The same, and on disk, with its directory, before it returns: what must
// outlive a power cut.
bool replaceFileDurably(const char *path, const char *text, size_t length, char *why, size_t size);
// A file of a fixed size written in place: what must be written after the
// start whatever becomes of the disk, its room taken once.
struct FixedFile;
// Made whole from `bytes` (`length` of them) as replaceFileDurably makes
// a file, then opened; or, with `bytes` null, opened as it stands, which
// must be a regular file of `length` bytes. Null, with why.
FixedFile *openFixedFile(const char *path, const char *bytes, size_t length, char *why, size_t size);
// `length` bytes at `offset`, in place, and on disk before it returns.
bool writeInPlace(FixedFile *file, size_t offset, const char *bytes, size_t length, char *why, size_t size);
void closeFixedFile(FixedFile *file);
// Why replaceFile could never work at `path`, whatever is made later: a
// directory or a link stands there, or a file where its directory should
// be. False when nothing stands in the way for good (a directory not made
// yet, one that cannot be written now, is no such reason).
bool neverReplaceable(const char *path, char *why, size_t size);
void removeFile(const char *path);
// Whether anything stands at `path`.
bool pathExists(const char *path);

// A file's whole text, NUL-terminated, in memory the caller frees; at most
// `most` bytes. False, with the system's words, when it cannot be read.
bool readWholeFile(const char *path, size_t most, char **text, size_t *length, char *why, size_t size);
// Whether others than the file's owner (on Windows: than its owner, SYSTEM
// and Administrators) may read it, with why; or it cannot be looked at,
// with why too.
bool readableByOthers(const char *path, char *why, size_t size);
// Whether others than root and this process's user may change the file,
// or what leads to it: each directory on its way, and each link on it (a
// link is judged as itself, and then where it points), with why; or it
// cannot be looked at, with why too. A sticky directory (/tmp) lets no
// one replace what is not theirs. On Windows the ACLs are the
// installer's: false.
bool writableByOthers(const char *path, char *why, size_t size);
// One of watch's own inputs (a configuration file, a headers or CA file),
// judged as writableByOthers judges it and as what it is: a regular file
// (with `directory`, a directory), never a FIFO or a device; opened
// without blocking and without following a last link, and judged again
// once open. False, with why (which names the file), when it is not to be
// trusted or cannot be opened.
bool inputTrusted(const char *path, bool directory, char *why, size_t size);
// Its whole text, as readWholeFile reads it, once judged so.
bool readInput(const char *path, size_t most, char **text, size_t *length, char *why, size_t size);
// Each file in `dir` whose name ends in `suffix`, by its full path, in the
// order of their names' bytes, until `each` says stop. False, with why,
// when the directory is there but cannot be read: one not there has none.
// (files.cpp, from namesEndingIn.)
bool eachFileEndingIn(const char *dir, const char *suffix, bool (*each)(const char *path, void *context),
	void *context, char *why, size_t size);
// The same names as the system lists them, hidden ones left out, each to
// `keep` until it says stop (then false, for want of memory).
bool namesEndingIn(const char *dir, const char *suffix, bool (*keep)(const char *name, void *context), void *context,
	char *why, size_t size);
