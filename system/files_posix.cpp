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
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
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
static int createBeside(const char *path, mode_t mode, char *temporary, size_t size)
{
	if (!temporaryBeside(path, temporary, size))
		return -1;
	const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
	int fd = open(temporary, flags, mode);
	// One a write that did not end left behind (a power cut, a kill) is
	// taken away; mostly there is none, and no call is spent on it.
	if (fd < 0 && errno == EEXIST && unlink(temporary) == 0)
		fd = open(temporary, flags, mode);
	return fd;
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
// `mode` whatever the umask, before a byte is written: 0644, for the
// collector and pulsewarden status of ordinary users; 0600 for a secret.
// `inPlace`: to be written in place later, whatever becomes of the disk,
// so never copied on write (btrfs), which would ask the disk for room at
// each write; the flag takes only while the file is empty, and where it
// means nothing it is refused, which changes nothing.
static bool replace(const char *path, const char *text, size_t length, mode_t mode, bool durable, char *why,
	size_t size, bool inPlace = false)
{
	char temporary[PATH_MAX];
	int fd = createBeside(path, mode, temporary, sizeof temporary);
	if (fd < 0)
		return sayErrno(why, size);
	int flags = 0;
	if (inPlace && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
		flags |= FS_NOCOW_FL;
		ioctl(fd, FS_IOC_SETFLAGS, &flags);
	}
	bool written = fchmod(fd, mode) == 0;
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
	return replace(path, text, length, 0644, false, why, size);
}

bool replacePrivateFile(const char *path, const char *text, size_t length, char *why, size_t size)
{
	return replace(path, text, length, 0600, false, why, size);
}

bool replaceFileDurably(const char *path, const char *text, size_t length, char *why, size_t size)
{
	return replace(path, text, length, 0644, true, why, size);
}

// Opened for each write, not held: a file held open for writing would keep
// its file system from being remounted read-only for as long as the
// watcher runs.
struct FixedFile {
	size_t length;
	char *path;
};

// The file at `path`, if it is still what was made: a regular file of
// `length` bytes, reached without following a link.
static int openFixed(const char *path, size_t length, int flags, char *why, size_t size)
{
	int fd = open(path, flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0) {
		sayErrno(why, size);
		if (fd >= 0)
			close(fd);
		return -1;
	}
	if (!S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) != length) {
		snprintf(why, size, "not a file of %zu bytes", length);
		close(fd);
		return -1;
	}
	return fd;
}

FixedFile *openFixedFile(const char *path, const char *bytes, size_t length, char *why, size_t size)
{
	if (bytes && !replace(path, bytes, length, 0644, true, why, size, true))
		return nullptr;
	int fd = openFixed(path, length, O_RDWR, why, size);
	if (fd < 0)
		return nullptr;
	close(fd);
	FixedFile *file = static_cast<FixedFile *>(malloc(sizeof(FixedFile)));
	char *kept = strdup(path);
	if (!file || !kept) {
		free(file);
		free(kept);
		snprintf(why, size, "%s", strerror(ENOMEM));
		return nullptr;
	}
	file->length = length;
	file->path = kept;
	return file;
}

// Blocks the file already has: no room is asked of the disk, and only the
// data needs syncing.
bool writeInPlace(FixedFile *file, size_t offset, const char *bytes, size_t length, char *why, size_t size)
{
	int fd = openFixed(file->path, file->length, O_WRONLY, why, size);
	if (fd < 0)
		return false;
	bool written = true;
	for (size_t at = 0; written && at < length;) {
		ssize_t n = pwrite(fd, bytes + at, length - at, static_cast<off_t>(offset + at));
		if (n < 0 && errno == EINTR)
			continue;
		if (n == 0)
			errno = EIO;
		if (n <= 0)
			written = sayErrno(why, size);
		else
			at += static_cast<size_t>(n);
	}
	written = written && (fdatasync(fd) == 0 || sayErrno(why, size));
	close(fd);
	return written;
}

void closeFixedFile(FixedFile *file)
{
	if (!file)
		return;
	free(file->path);
	free(file);
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

// All of an open file, at most `most` bytes; the descriptor is closed.
static bool readAll(int fd, size_t most, char **text, size_t *length, char *why, size_t size)
{
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
	return readAll(fd, most, text, length, why, size);
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
	// With an access list, the group's bits are the most any named user or
	// group may do: one that may write is others' to change, whatever the
	// file's group.
	if ((status.st_mode & S_IWGRP) && lgetxattr(path, "system.posix_acl_access", nullptr, 0) > 0) {
		snprintf(why, size, "%s has an access list that may let others write %s (mode %03o with an ACL): setfacl -b "
			"it", path, directory ? "in it" : "it", static_cast<unsigned>(status.st_mode & 0777));
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

// Each name on `path`'s way, from the root, as the kernel would follow
// it: a directory others may change, or a link others own, is refused
// where it stands (lstat: a link is judged as itself, then where it
// points); where the way ends, `resolved` names it, links followed.
static bool wayTrusted(const char *path, char *resolved, size_t resolvedSize, char *why, size_t size)
{
	char rest[PATH_MAX];
	char at[PATH_MAX] = "";
	if (path[0] == '/') {
		snprintf(rest, sizeof rest, "%s", path);
	} else if (!getcwd(at, sizeof at) || snprintf(rest, sizeof rest, "%s/%s", at, path) >= static_cast<int>(sizeof rest)) {
		return !cannotLookAt(path, why, size);
	}
	// `at` is the way so far, judged; `rest` what is left of it.
	snprintf(at, sizeof at, "/");
	for (int links = 0;;) {
		struct stat status;
		if (stat(at, &status) != 0)
			return !cannotLookAt(at, why, size);
		char *name = rest + strspn(rest, "/");
		if (!*name)
			break;
		if (othersMayChange(at, status, why, size))
			return false;
		size_t length = strcspn(name, "/");
		char part[NAME_MAX + 1];
		if (length > NAME_MAX) {
			errno = ENAMETOOLONG;
			return !cannotLookAt(path, why, size);
		}
		memcpy(part, name, length);
		part[length] = '\0';
		memmove(rest, name + length, strlen(name + length) + 1);
		if (strcmp(part, ".") == 0)
			continue;
		if (strcmp(part, "..") == 0) {
			char *slash = strrchr(at, '/');
			slash[slash == at] = '\0';
			continue;
		}
		char next[PATH_MAX];
		if (snprintf(next, sizeof next, "%s%s%s", at, strcmp(at, "/") == 0 ? "" : "/", part)
			>= static_cast<int>(sizeof next)) {
			errno = ENAMETOOLONG;
			return !cannotLookAt(path, why, size);
		}
		if (lstat(next, &status) != 0)
			return !cannotLookAt(next, why, size);
		if (!S_ISLNK(status.st_mode)) {
			snprintf(at, sizeof at, "%s", next);
			continue;
		}
		// Whoever owns a link may point it elsewhere at any time.
		if (status.st_uid != 0 && status.st_uid != geteuid()) {
			snprintf(why, size, "%s is a link owned by uid %u, who may point it elsewhere: chown -h root it", next,
				static_cast<unsigned>(status.st_uid));
			return false;
		}
		char target[PATH_MAX];
		ssize_t n = readlink(next, target, sizeof target - 1);
		if (n < 0 || ++links > 40) {
			if (n >= 0)
				errno = ELOOP;
			return !cannotLookAt(next, why, size);
		}
		target[n] = '\0';
		char joined[PATH_MAX];
		if (snprintf(joined, sizeof joined, "%s%s%s", target, *rest ? "/" : "", rest) >= static_cast<int>(sizeof joined)) {
			errno = ENAMETOOLONG;
			return !cannotLookAt(path, why, size);
		}
		snprintf(rest, sizeof rest, "%s", joined);
		if (target[0] == '/')
			snprintf(at, sizeof at, "/");
	}
	snprintf(resolved, resolvedSize, "%s", at);
	return true;
}

bool writableByOthers(const char *path, char *why, size_t size)
{
	char resolved[PATH_MAX];
	struct stat status;
	if (!wayTrusted(path, resolved, sizeof resolved, why, size))
		return true;
	if (stat(resolved, &status) != 0)
		return cannotLookAt(resolved, why, size);
	return othersMayChange(resolved, status, why, size);
}

// What watch reads is a file of its own kind: a FIFO would block the
// reader, a device would be read without end.
static bool ofItsKind(const char *path, const struct stat &status, bool directory, char *why, size_t size)
{
	if (directory ? S_ISDIR(status.st_mode) : S_ISREG(status.st_mode))
		return true;
	const char *kind = S_ISDIR(status.st_mode) ? "a directory" : S_ISFIFO(status.st_mode) ? "a FIFO"
		: S_ISSOCK(status.st_mode) ? "a socket" : S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode) ? "a device"
		: "not a regular file";
	snprintf(why, size, "%s is %s, not a %s", path, kind, directory ? "directory" : "regular file");
	return false;
}

static int openInput(const char *path, bool directory, char *why, size_t size)
{
	char resolved[PATH_MAX];
	struct stat status;
	if (!wayTrusted(path, resolved, sizeof resolved, why, size))
		return -1;
	if (lstat(resolved, &status) != 0) {
		cannotLookAt(resolved, why, size);
		return -1;
	}
	if (!ofItsKind(resolved, status, directory, why, size))
		return -1;
	int fd = open(resolved, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
	if (fd < 0) {
		cannotLookAt(resolved, why, size);
		return -1;
	}
	// What was opened, judged again: not what stood there a moment before.
	if (fstat(fd, &status) != 0 || !ofItsKind(resolved, status, directory, why, size)
		|| othersMayChange(resolved, status, why, size)) {
		close(fd);
		return -1;
	}
	// A directory of inputs (watch.d) is read whole: a file anyone may add,
	// sticky or not, is one more that names what root runs, or one that
	// stops every start.
	bool group = (status.st_mode & S_IWGRP) && status.st_gid != 0;
	if (directory && (group || (status.st_mode & S_IWOTH))) {
		snprintf(why, size, "%s may be written in by others than its owner (mode %o): chmod go-w it", resolved,
			static_cast<unsigned>(status.st_mode & 07777));
		close(fd);
		return -1;
	}
	return fd;
}

bool readInput(const char *path, size_t most, char **text, size_t *length, char *why, size_t size)
{
	*text = nullptr;
	int fd = openInput(path, false, why, size);
	if (fd < 0)
		return false;
	char reason[160];
	if (readAll(fd, most, text, length, reason, sizeof reason))
		return true;
	snprintf(why, size, "%s: %s", path, reason);
	return false;
}

bool inputTrusted(const char *path, bool directory, char *why, size_t size)
{
	int fd = openInput(path, directory, why, size);
	if (fd >= 0)
		close(fd);
	return fd >= 0;
}
