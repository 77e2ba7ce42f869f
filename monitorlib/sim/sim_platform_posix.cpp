// Linux. The state directory holds "lock", which every change locks with flock(),
// and "state", which a change replaces by writing "state.new" and renaming it
// over the old one. Readers take no lock: they see the old or the new file,
// whole. A process killed at any point leaves one of the two states and no
// lock (the kernel drops it with the process); "state.new" is written only
// under the lock, so a leftover one is simply replaced by the next change.
#include "sim_platform.h"

#include "sim_config.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static const char stateName[] = "state";
static const char newStateName[] = "state.new";
static const char lockName[] = "lock";

// How long a change waits for another process's change before failing.
static const int64_t lockPatienceNs = 10 * 1000000000LL;

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

bool defaultStateDirPath(char *path, size_t size)
{
	int n;
	const char *runtime = getenv("XDG_RUNTIME_DIR");
	if (runtime && *runtime)
		n = snprintf(path, size, "%s/corvane-sim", runtime);
	else
		n = snprintf(path, size, "/tmp/corvane-sim-%lu", static_cast<unsigned long>(geteuid()));
	return n > 0 && static_cast<size_t>(n) < size;
}

int64_t bootClockNs()
{
	// CLOCK_BOOTTIME also counts time suspended: a suspended guest sends no
	// heartbeats either.
	struct timespec ts;
	clock_gettime(CLOCK_BOOTTIME, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool currentBootId(char *id, size_t size)
{
	int fd = openAboveStdio(AT_FDCWD, "/proc/sys/kernel/random/boot_id",
		O_RDONLY | O_CLOEXEC, 0);
	if (fd < 0)
		return false;
	ssize_t n = read(fd, id, size - 1);
	close(fd);
	// A uuid: printable, no spaces; anything else is not trusted.
	ssize_t length = 0;
	while (length < n && id[length] > ' ' && id[length] < 127)
		length++;
	id[length] = '\0';
	return length > 0;
}

int openStateDir(bool create)
{
	char path[PATH_MAX];
	if (!stateDirPath(path, sizeof path))
		return stateDirRefused;
	bool created = create && mkdir(path, 0700) == 0;
	if (create && !created && errno != EEXIST)
		return stateDirRefused;
	int fd = openAboveStdio(AT_FDCWD, path,
		O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
	if (fd < 0)
		return errno == ENOENT ? stateDirMissing : stateDirRefused;
	// 0700 exactly: the umask may have taken the owner's own bits.
	if (created)
		fchmod(fd, 0700);
	struct stat st;
	if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()
	    || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
		close(fd);
		return stateDirRefused;
	}
	return fd;
}

void closeStateDir(int dirFd)
{
	close(dirFd);
}

void unlockStateDir(int lockFd)
{
	// Closing the lock file's only descriptor drops the lock.
	close(lockFd);
}

static bool isRegularFile(int fd)
{
	struct stat st;
	return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

static int64_t monotonicNs()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int lockStateDir(int dirFd)
{
	// Read-only is enough for flock(), and still works when the umask left
	// the lock file without its write bit. O_NONBLOCK: a FIFO planted under
	// the lock's name must not block us.
	int fd = openAboveStdio(dirFd, lockName,
		O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
	if (fd < 0)
		return -1;
	if (!isRegularFile(fd)) {
		close(fd);
		return -1;
	}
	// Changes hold the lock for microseconds. Poll rather than block, so that
	// a stopped or hostile holder costs a bounded wait, not a hang.
	int64_t deadline = monotonicNs() + lockPatienceNs;
	long pauseNs = 20000;
	while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
		if ((errno != EWOULDBLOCK && errno != EINTR) || monotonicNs() > deadline) {
			close(fd);
			return -1;
		}
		struct timespec pause = {0, pauseNs};
		nanosleep(&pause, nullptr);
		if (pauseNs < 5000000)
			pauseNs *= 2;
	}
	return fd;
}

ReadResult readState(int dirFd, SimState *state)
{
	int fd = openAboveStdio(dirFd, stateName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0);
	if (fd < 0)
		return errno == ENOENT ? stateMissing : stateDamaged;
	if (!isRegularFile(fd)) {
		close(fd);
		return stateDamaged;
	}
	// One byte more than a state can hold tells an overlong file.
	char text[stateTextMax + 1];
	size_t length = 0;
	for (;;) {
		ssize_t n = read(fd, text + length, sizeof text - length);
		if (n < 0 && errno == EINTR)
			continue;
		if (n < 0) {
			close(fd);
			return stateDamaged;
		}
		if (n == 0 || (length += static_cast<size_t>(n)) == sizeof text)
			break;
	}
	close(fd);
	return parseSimState(text, length, state) ? stateRead : stateDamaged;
}

static bool writeAll(int fd, const char *text, size_t length)
{
	while (length > 0) {
		ssize_t n = write(fd, text, length);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		text += n;
		length -= static_cast<size_t>(n);
	}
	return true;
}

bool writeState(int dirFd, const SimState *state)
{
	char text[stateTextMax];
	size_t length = formatSimState(state, text);

	unlinkat(dirFd, newStateName, 0);
	int fd = openAboveStdio(dirFd, newStateName,
		O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
	if (fd < 0)
		return false;
	bool saved = writeAll(fd, text, length) && fsync(fd) == 0;
	saved = close(fd) == 0 && saved;
	saved = saved && renameat(dirFd, newStateName, dirFd, stateName) == 0;
	if (!saved)
		unlinkat(dirFd, newStateName, 0);
	return saved;
}
