// Linux: written as PATH.tmp, never through a link, then renamed.
#include "files.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char pathSeparator = '/';

static bool temporaryBeside(const char *path, char *temporary, size_t size)
{
	int n = snprintf(temporary, size, "%s.tmp", path);
	if (n < 0 || static_cast<size_t>(n) >= size) {
		errno = ENAMETOOLONG;
		return false;
	}
	return true;
}

// A fresh file of ours: never one another user put there, nor a link.
static int createBeside(const char *path, char *temporary, size_t size)
{
	if (!temporaryBeside(path, temporary, size))
		return -1;
	unlink(temporary);
	return open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

static bool sayErrno(char *why, size_t size)
{
	snprintf(why, size, "%s", strerror(errno));
	return false;
}

static bool syncDirectoryOf(const char *path, char *why, size_t size)
{
	char dir[PATH_MAX];
	snprintf(dir, sizeof dir, "%s", path);
	char *slash = strrchr(dir, '/');
	if (slash)
		slash[slash == dir ? 1 : 0] = '\0';
	int fd = open(slash ? dir : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	bool synced = fd >= 0 && fsync(fd) == 0;
	int error = errno;
	if (fd >= 0)
		close(fd);
	errno = error;
	return synced || sayErrno(why, size);
}

// With `durable`, on disk before it returns: the file synced before it
// takes the old one's place, the directory after, so that a power cut
// leaves one or the other whole.
static bool replace(const char *path, const char *text, size_t length, bool durable, char *why, size_t size)
{
	char temporary[PATH_MAX];
	int fd = createBeside(path, temporary, sizeof temporary);
	if (fd < 0)
		return sayErrno(why, size);
	bool written = fchmod(fd, 0644) == 0;  // whatever the umask: the collector reads it
	for (size_t at = 0; written && at < length;) {
		ssize_t n = write(fd, text + at, length - at);
		if (n < 0 && errno == EINTR)
			continue;
		written = n > 0;
		at += written ? static_cast<size_t>(n) : 0;
	}
	if (written && durable)
		written = fsync(fd) == 0;
	int error = errno;
	if (close(fd) != 0 && written) {
		written = false;
		error = errno;
	}
	if (written && rename(temporary, path) == 0)
		return !durable || syncDirectoryOf(path, why, size);
	if (written)
		error = errno;
	unlink(temporary);
	errno = error;
	return sayErrno(why, size);
}

bool replaceFile(const char *path, const char *text, size_t length, char *why, size_t size)
{
	return replace(path, text, length, false, why, size);
}

bool replaceFileDurably(const char *path, const char *text, size_t length, char *why, size_t size)
{
	return replace(path, text, length, true, why, size);
}

struct FixedFile {
	int fd;
};

FixedFile *openFixedFile(const char *path, const char *bytes, size_t length, char *why, size_t size)
{
	if (bytes && !replaceFileDurably(path, bytes, length, why, size))
		return nullptr;
	int fd = open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0) {
		sayErrno(why, size);
		if (fd >= 0)
			close(fd);
		return nullptr;
	}
	if (!S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) != length) {
		snprintf(why, size, "not a file of %zu bytes", length);
		close(fd);
		return nullptr;
	}
	return new FixedFile{fd};
}

// Blocks the file already has: no room is asked of the disk, and only the
// data needs syncing.
bool writeInPlace(FixedFile *file, size_t offset, const char *bytes, size_t length, char *why, size_t size)
{
	for (size_t at = 0; at < length;) {
		ssize_t n = pwrite(file->fd, bytes + at, length - at, static_cast<off_t>(offset + at));
		if (n < 0 && errno == EINTR)
			continue;
		if (n == 0)
			errno = EIO;
		if (n <= 0)
			return sayErrno(why, size);
		at += static_cast<size_t>(n);
	}
	return fdatasync(file->fd) == 0 || sayErrno(why, size);
}

void closeFixedFile(FixedFile *file)
{
	if (!file)
		return;
	close(file->fd);
	delete file;
}

bool neverReplaceable(const char *path, char *why, size_t size)
{
	struct stat st;
	errno = 0;
	const char *problem = lstat(path, &st) == 0 && S_ISLNK(st.st_mode) ? "a symbolic link is there (give the file's own path)"
		: stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? strerror(EISDIR)
		: errno == ENOTDIR ? strerror(ENOTDIR)
		: nullptr;
	if (problem)
		snprintf(why, size, "%s", problem);
	return problem != nullptr;
}

void removeFile(const char *path)
{
	unlink(path);
}

bool pathExists(const char *path)
{
	struct stat st;
	return lstat(path, &st) == 0;
}

bool readWholeFile(const char *path, size_t most, char **text, size_t *length, char *why, size_t size)
{
	*text = nullptr;
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	struct stat status;
	if (fd < 0 || fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
		snprintf(why, size, "%s", fd >= 0 ? strerror(EISDIR) : strerror(errno));
		if (fd >= 0)
			close(fd);
		return false;
	}
	size_t have = 0;
	char *buffer = static_cast<char *>(malloc(most + 1));
	ssize_t n = 1;
	while (buffer && have <= most && (n = read(fd, buffer + have, most + 1 - have)) != 0) {
		if (n < 0 && errno != EINTR)
			break;
		have += n > 0 ? static_cast<size_t>(n) : 0;
		if (have == most + 1)
			break;
	}
	int error = !buffer ? ENOMEM : n < 0 ? errno : have > most ? EFBIG : 0;
	close(fd);
	if (error) {
		snprintf(why, size, "%s", strerror(error));
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
	DIR *d = opendir(dir);
	if (!d) {
		int error = errno;
		snprintf(why, size, "%s", strerror(error));
		return error == ENOENT;
	}
	size_t suffixLength = strlen(suffix);
	bool kept = true;
	while (struct dirent *entry = kept ? readdir(d) : nullptr) {
		size_t length = strlen(entry->d_name);
		// Hidden files are editors' and packages' leftovers, never a drop-in.
		if (entry->d_name[0] != '.' && length > suffixLength && strcmp(entry->d_name + length - suffixLength, suffix) == 0)
			kept = keep(entry->d_name, context);
	}
	closedir(d);
	if (!kept)
		snprintf(why, size, "%s", strerror(ENOMEM));
	return kept;
}

// A file that cannot be looked at, with errno's words as a line goes on
// after a colon: true, as the judgements below answer it.
static bool cannotLookAt(const char *path, char *why, size_t size)
{
	char reason[160];
	snprintf(reason, sizeof reason, "%s", strerror(errno));
	reason[0] = static_cast<char>(tolower(static_cast<unsigned char>(reason[0])));
	snprintf(why, size, "%s: %s", path, reason);
	return true;
}

bool readableByOthers(const char *path, char *why, size_t size)
{
	struct stat status;
	if (stat(path, &status) != 0)
		return cannotLookAt(path, why, size);
	if (!(status.st_mode & (S_IRGRP | S_IROTH)))
		return false;
	snprintf(why, size, "%s may be read by others than its owner (mode %03o): chmod 600 it", path,
		static_cast<unsigned>(status.st_mode & 0777));
	return true;
}

// Whom a file or directory lets change it besides root and us: its owner,
// and the group or everyone where its mode says.
static bool othersMayChange(const char *path, const struct stat &status, char *why, size_t size)
{
	uid_t self = geteuid();
	bool directory = S_ISDIR(status.st_mode);
	if (status.st_uid != 0 && status.st_uid != self) {
		snprintf(why, size, "%s is owned by uid %u, who may change it: chown root it", path,
			static_cast<unsigned>(status.st_uid));
		return true;
	}
	if (directory && (status.st_mode & S_ISVTX))
		return false;
	bool group = (status.st_mode & S_IWGRP) && status.st_gid != 0;
	if (!group && !(status.st_mode & S_IWOTH))
		return false;
	snprintf(why, size, "%s may be %s by others than its owner (mode %03o): chmod go-w it", path,
		directory ? "written in" : "written", static_cast<unsigned>(status.st_mode & 0777));
	return true;
}

// The file at `path` and each directory above it, as the path names them.
static bool chainWritable(char *path, char *why, size_t size)
{
	for (;;) {
		struct stat status;
		if (stat(path, &status) != 0)
			return cannotLookAt(path, why, size);
		if (othersMayChange(path, status, why, size))
			return true;
		char *slash = strrchr(path, '/');
		if (!slash || slash == path) {
			if (!slash || strcmp(path, "/") == 0)
				return false;
			path[1] = '\0';
			continue;
		}
		*slash = '\0';
	}
}

// Where it truly is, and the directory that holds the name given: a link
// there could be pointed elsewhere.
bool writableByOthers(const char *path, char *why, size_t size)
{
	char real[PATH_MAX];
	if (!realpath(path, real))
		return cannotLookAt(path, why, size);
	if (chainWritable(real, why, size))
		return true;
	char named[PATH_MAX];
	snprintf(named, sizeof named, "%s", path);
	char *slash = strrchr(named, '/');
	if (!slash)
		return false;
	slash[slash == named] = '\0';
	return realpath(named, real) && chainWritable(real, why, size);
}
