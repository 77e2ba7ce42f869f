// Linux. The state directory holds "lock", which every change locks with flock(),
// and "state", which a change replaces by writing "state.new" and renaming it
// over the old one, then syncing the directory. Readers take no lock: they
// see the old or the new file, whole. A process killed at any point leaves
// one of the two states and no lock (the kernel drops it with the process);
// "state.new" is written only under the lock, so a leftover one is simply
// replaced by the next change. Whatever the umask, the directory is 0700 and
// its files 0600.
#include "sim_platform.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

struct StateDir {
	int fd;
};

struct StateLock {
	int fd;
};

struct StateWatch {
	int fd;
};

const char pathSeparators[] = "/";

static const char stateName[] = "state";
static const char newStateName[] = "state.new";
static const char lockName[] = "lock";

// openat() whose descriptor is never 0, 1 or 2: with a standard stream
// closed, the caller's output must not land in our files.
static int openAboveStdio(int dirFd, const char *name, int flags, unsigned mode)
{
	int fd = openat(dirFd, name, flags, mode);
	if (fd < 0 || fd > STDERR_FILENO)
		return fd;
	int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
	close(fd);
	return moved;
}

// Gives one of our own files or directories back the owner's access that a
// strict umask took from it when it was made, so that it can be opened.
// Only what is ours, not a link, and not open to others' writes.
static bool restoreOwnerAccess(int dirFd, const char *name, unsigned ownerBits)
{
	int fd = openAboveStdio(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC, 0);
	if (fd < 0)
		return false;
	struct stat st;
	char self[32];
	snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
	bool restored = fstat(fd, &st) == 0 && st.st_uid == geteuid() && !S_ISLNK(st.st_mode)
		&& (st.st_mode & (S_IWGRP | S_IWOTH)) == 0
		&& chmod(self, (st.st_mode & 07777) | ownerBits) == 0;
	close(fd);
	return restored;
}

static int openOwn(int dirFd, const char *name, int flags, unsigned mode, unsigned ownerBits)
{
	int fd = openAboveStdio(dirFd, name, flags, mode);
	if (fd < 0 && errno == EACCES && restoreOwnerAccess(dirFd, name, ownerBits))
		fd = openAboveStdio(dirFd, name, flags, mode);
	return fd;
}

bool defaultStateDirPath(char *path, size_t size, Reason *why)
{
	// Root's state is the machine's own, where no other user can create it
	// first. Any other user's is in their home directory, as the user
	// database gives it: the same from a login shell, cron, su or a service,
	// and it outlives the session.
	uid_t uid = geteuid();
	int n;
	if (uid == 0) {
		n = snprintf(path, size, "/run/corvane-sim");
	} else {
		struct passwd entry;
		struct passwd *found = nullptr;
		char buffer[4096];
		int error = getpwuid_r(uid, &entry, buffer, sizeof buffer, &found);
		if (!found || !found->pw_dir || found->pw_dir[0] != '/') {
			say(why, "user %lu has no home directory in the user database%s%s",
				static_cast<unsigned long>(uid), error ? ": " : "", error ? strerror(error) : "");
			return false;
		}
		n = snprintf(path, size, "%s/.local/state/corvane-sim",
			found->pw_dir[1] ? found->pw_dir : "");
	}
	if (n <= 0 || static_cast<size_t>(n) >= size) {
		say(why, "the path of the state directory is too long");
		return false;
	}
	return true;
}

// Creates the missing parents of `path`, owner-only, as the default place
// needs them (~/.local/state, say).
static bool createParents(const char *path, Reason *why)
{
	char parent[PATH_MAX];
	snprintf(parent, sizeof parent, "%s", path);
	for (char *slash = strchr(parent + 1, '/'); slash; slash = strchr(slash + 1, '/')) {
		*slash = '\0';
		if (mkdir(parent, 0700) == 0)
			chmod(parent, 0700);  // whatever the umask
		else if (errno != EEXIST) {
			say(why, "cannot create %s: %s", parent, strerror(errno));
			return false;
		}
		*slash = '/';
	}
	return true;
}

// Why `path` could not be opened as a directory.
static OpenResult refusedAfterOpen(const char *path, Reason *why)
{
	int error = errno;
	struct stat st;
	if (error == ENOENT)
		return dirMissing;
	if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode))
		say(why, "refused: the state directory is a symbolic link");
	else if (error == ENOTDIR)
		say(why, "refused: not a directory");
	else
		say(why, "cannot open the state directory: %s", strerror(error));
	return dirRefused;
}

OpenResult openStateDir(const char *path, DirCreation creation, StateDir **dir, Reason *why)
{
	if (creation == createWithParents && !createParents(path, why))
		return dirRefused;
	bool created = creation != createNothing && mkdir(path, 0700) == 0;
	if (creation != createNothing && !created && errno != EEXIST) {
		say(why, "cannot create the state directory: %s", strerror(errno));
		return dirRefused;
	}
	int fd = openOwn(AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0, S_IRWXU);
	if (fd < 0)
		return refusedAfterOpen(path, why);
	struct stat st;
	if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode))
		say(why, "refused: not a directory");
	else if (st.st_uid != geteuid())
		say(why, "refused: the state directory belongs to user %lu", static_cast<unsigned long>(st.st_uid));
	else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
		say(why, "refused: the state directory is writable by others (mode %04o)", st.st_mode & 07777);
	else {
		// 0700 exactly: the umask may have taken more than group and others.
		if (created && (st.st_mode & 07777) != 0700)
			fchmod(fd, 0700);
		*dir = static_cast<StateDir *>(malloc(sizeof(StateDir)));
		if (*dir) {
			(*dir)->fd = fd;
			return dirOpened;
		}
		say(why, "out of memory");
	}
	close(fd);
	return dirRefused;
}

bool parentDirExists(const char *path)
{
	char parent[PATH_MAX];
	snprintf(parent, sizeof parent, "%s", path);
	char *slash = strrchr(parent, '/');
	if (!slash)
		return true;  // the current directory
	slash[slash == parent] = '\0';
	struct stat st;
	return stat(parent, &st) == 0 && S_ISDIR(st.st_mode);
}

void closeStateDir(StateDir *dir)
{
	close(dir->fd);
	free(dir);
}

LockAttempt tryLockStateDir(StateDir *dir, StateLock **lock, Reason *why)
{
	// Read-only is enough for flock(). O_NONBLOCK: a FIFO planted under the
	// lock's name must not block us.
	int fd = openOwn(dir->fd, lockName, O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
		0600, S_IRUSR | S_IWUSR);
	if (fd < 0) {
		say(why, "cannot open the lock: %s", strerror(errno));
		return lockFailed;
	}
	struct stat st;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
		say(why, "the lock is not a regular file");
		close(fd);
		return lockFailed;
	}
	if ((st.st_mode & 0777) != 0600 && st.st_uid == geteuid())
		fchmod(fd, 0600);
	if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
		int error = errno;
		close(fd);
		if (error == EWOULDBLOCK || error == EINTR)
			return lockBusy;
		say(why, "cannot lock: %s", strerror(error));
		return lockFailed;
	}
	*lock = static_cast<StateLock *>(malloc(sizeof(StateLock)));
	if (!*lock) {
		say(why, "out of memory");
		close(fd);
		return lockFailed;
	}
	(*lock)->fd = fd;
	return lockTaken;
}

void unlockStateDir(StateLock *lock)
{
	// Closing the lock file's only descriptor drops the lock.
	close(lock->fd);
	free(lock);
}

FileResult readStateFile(StateDir *dir, char *text, size_t size, size_t *length, Reason *why)
{
	int fd = openAboveStdio(dir->fd, stateName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0);
	if (fd < 0 && errno == ENOENT)
		return fileMissing;
	if (fd < 0) {
		say(why, "cannot open the state: %s", strerror(errno));
		return fileFailed;
	}
	struct stat st;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
		say(why, "the state is not a regular file");
		close(fd);
		return fileFailed;
	}
	*length = 0;
	for (;;) {
		ssize_t n = read(fd, text + *length, size - *length);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			say(why, "cannot read the state: %s", strerror(errno));
			close(fd);
			return fileFailed;
		}
		if (n == 0 || (*length += static_cast<size_t>(n)) == size)
			break;
	}
	close(fd);
	return fileRead;
}

static bool writeAll(int fd, const char *text, size_t length)
{
	while (length > 0) {
		ssize_t n = write(fd, text, length);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0)
			return false;
		if (n == 0) {
			errno = ENOSPC;
			return false;
		}
		text += n;
		length -= static_cast<size_t>(n);
	}
	return true;
}

bool replaceStateFile(StateDir *dir, const char *text, size_t length, Reason *why)
{
	unlinkat(dir->fd, newStateName, 0);
	int fd = openAboveStdio(dir->fd, newStateName,
		O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
	if (fd < 0) {
		say(why, "cannot save the state: %s", strerror(errno));
		return false;
	}
	// 0600 exactly, whatever the umask: the next reader must be able to open it.
	bool saved = fchmod(fd, 0600) == 0 && writeAll(fd, text, length) && fsync(fd) == 0;
	int error = errno;
	saved = close(fd) == 0 && saved;
	if (saved && renameat(dir->fd, newStateName, dir->fd, stateName) != 0) {
		error = errno;
		saved = false;
	}
	if (!saved) {
		unlinkat(dir->fd, newStateName, 0);
		say(why, "cannot save the state: %s", strerror(error));
		return false;
	}
	// The rename lives in the directory: until that is on disk, a power loss
	// can bring the old state back.
	if (fsync(dir->fd) != 0) {
		say(why, "cannot save the state: the directory did not sync: %s", strerror(errno));
		return false;
	}
	return true;
}

StateWatch *watchStateDir(const char *path)
{
	int fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
	if (fd < 0)
		return nullptr;
	StateWatch *watch = static_cast<StateWatch *>(malloc(sizeof(StateWatch)));
	// A change renames state.new over the state; a removed or replaced
	// directory ends the watch.
	if (!watch || inotify_add_watch(fd, path, IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_DELETE_SELF
		| IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW) < 0) {
		free(watch);
		close(fd);
		return nullptr;
	}
	watch->fd = fd;
	return watch;
}

void waitForChange(StateWatch *watch, int64_t timeoutNs)
{
	struct timespec timeout = {static_cast<time_t>(timeoutNs / 1000000000), static_cast<long>(timeoutNs % 1000000000)};
	struct pollfd p = {watch ? watch->fd : -1, POLLIN, 0};
	if (ppoll(&p, 1, &timeout, nullptr) > 0 && watch) {
		char events[4096];
		while (read(watch->fd, events, sizeof events) > 0)
			;
	}
}

void closeStateWatch(StateWatch *watch)
{
	if (!watch)
		return;
	close(watch->fd);
	free(watch);
}
