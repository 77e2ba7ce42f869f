// Linux: written as PATH.tmp, never through a link, then renamed.
#include "files.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool replaceFile(const char *path, const char *text, size_t length, char *why, size_t size)
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
	int error = errno;
	if (close(fd) != 0 && written) {
		written = false;
		error = errno;
	}
	if (written && rename(temporary, path) == 0)
		return true;
	if (written)
		error = errno;
	unlink(temporary);
	errno = error;
	return sayErrno(why, size);
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
