// Linux: a lock is flock() on a file (DIR/watch.lock, monitoring.lock),
// which the kernel lets go when the process ends, however it ends; the
// file keeps the holder's process id for whoever is refused.
#include "runtime_dir.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statfs.h>
#include <sys/stat.h>
#include <unistd.h>

// Root's, where the unit's RuntimeDirectory= is.
static const char machineDir[] = "/run/pulsewarden";

bool defaultRuntimeDir(char *path, size_t size, char *why, size_t whySize)
{
	const char *runtime = getenv("XDG_RUNTIME_DIR");
	int n;
	if (geteuid() == 0)
		n = snprintf(path, size, "%s", machineDir);
	else if (runtime && runtime[0] == '/')
		n = snprintf(path, size, "%s/pulsewarden", runtime);
	else
		n = snprintf(path, size, "/tmp/pulsewarden-%lu", static_cast<unsigned long>(geteuid()));
	if (n < 0 || static_cast<size_t>(n) >= size) {
		snprintf(why, whySize, "XDG_RUNTIME_DIR is too long");
		return false;
	}
	return true;
}

// The directory, made if missing: root's readable by all (its status is
// for every user to read), a user's for that user alone. One that a link
// leads to, another user owns or others may write is not ours to trust.
static bool ownDirectory(const char *dir, char *why, size_t size)
{
	mode_t mode = geteuid() == 0 ? 0755 : 0700;
	if (mkdir(dir, mode) == 0)
		chmod(dir, mode);  // whatever the umask: readers of root's are every user
	else if (errno != EEXIST) {
		snprintf(why, size, "cannot make %s: %s", dir, strerror(errno));
		return false;
	}
	struct stat st;
	if (lstat(dir, &st) != 0) {
		snprintf(why, size, "%s: %s", dir, strerror(errno));
		return false;
	}
	const char *problem = S_ISLNK(st.st_mode) ? "is a symbolic link"
		: !S_ISDIR(st.st_mode) ? "is not a directory"
		: st.st_uid != geteuid() ? "belongs to another user"
		: (st.st_mode & 022) ? "may be written by others"
		: nullptr;
	if (problem) {
		snprintf(why, size, "%s %s", dir, problem);
		return false;
	}
	return true;
}

// The process id its holder wrote in the lock; 0 when there is none.
static long holderOf(int fd)
{
	char text[32] = "";
	ssize_t n = pread(fd, text, sizeof text - 1, 0);
	text[n > 0 ? n : 0] = '\0';
	return strtol(text, nullptr, 10);
}

// The lock on fd, taken; or false with errno. A reader that looks
// whether a watcher runs (status, --reload) holds the lock shared for an
// instant: while the file names no process that runs, the lock is tried
// again for up to 2 s, so that a look never turns a starting watcher away.
static bool lockSoon(int fd)
{
	for (int tries = 0;; tries++) {
		if (flock(fd, LOCK_EX | LOCK_NB) == 0)
			return true;
		int error = errno;
		long pid = holderOf(fd);
		char seen[300];
		if (error != EWOULDBLOCK || tries == 200 || (pid > 0 && processSeen(pid, "", seen, sizeof seen) != processEnded)) {
			errno = error;
			return false;
		}
		struct timespec pause = {0, 10000000L};
		nanosleep(&pause, nullptr);
	}
}

// The lock at `path`, in the directory `dir`, taken for as long as the
// process runs, with its process id in it, and `place` after it.
static LockResult takeLock(const char *dir, const char *path, const char *place, long *holder, char *why, size_t size)
{
	*holder = 0;
	if (!ownDirectory(dir, why, size))
		return lockFailed;
	int fd = open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
	struct stat st;
	if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
		snprintf(why, size, "cannot open %s: %s", path, fd < 0 ? strerror(errno) : "not a regular file");
		if (fd >= 0)
			close(fd);
		return lockFailed;
	}
	if (!lockSoon(fd)) {
		int error = errno;
		if (error == EWOULDBLOCK)
			*holder = holderOf(fd);
		close(fd);
		if (error == EWOULDBLOCK) {
			snprintf(why, size, "%s", path);
			return lockHeldByAnother;
		}
		snprintf(why, size, "cannot lock %s: %s", path, strerror(error));
		return lockFailed;
	}
	char pid[4200];
	int n = snprintf(pid, sizeof pid, "%ld\n%s%s", static_cast<long>(getpid()), place ? place : "", place ? "\n" : "");
	n = n < static_cast<int>(sizeof pid) ? n : static_cast<int>(sizeof pid) - 1;
	if (ftruncate(fd, 0) != 0 || pwrite(fd, pid, static_cast<size_t>(n), 0) != n) {
		snprintf(why, size, "cannot write %s: %s", path, strerror(errno));
		close(fd);
		return lockFailed;
	}
	// Held until the process ends: the descriptor is never closed.
	return lockHeld;
}

LockResult lockRuntimeDir(const char *dir, long *holder, char *why, size_t size)
{
	char path[4096];
	if (snprintf(path, sizeof path, "%s/watch.lock", dir) >= static_cast<int>(sizeof path)) {
		*holder = 0;
		snprintf(why, size, "%s: %s", dir, strerror(ENAMETOOLONG));
		return lockFailed;
	}
	return takeLock(dir, path, nullptr, holder, why, size);
}

bool monitoringLockPath(char *path, size_t size, char *why, size_t whySize)
{
	const char *named = getenv("PULSEWARDEN_LOCK");
	if (named && *named) {
		if (named[0] != '/') {
			snprintf(why, whySize, "PULSEWARDEN_LOCK: \"%s\" is not a full path", named);
			return false;
		}
		if (snprintf(path, size, "%s", named) < static_cast<int>(size))
			return true;
		snprintf(why, whySize, "PULSEWARDEN_LOCK is too long");
		return false;
	}
	char dir[4096];
	if (!defaultRuntimeDir(dir, sizeof dir, why, whySize))
		return false;
	if (snprintf(path, size, "%s/monitoring.lock", dir) < static_cast<int>(size))
		return true;
	snprintf(why, whySize, "%s: %s", dir, strerror(ENAMETOOLONG));
	return false;
}

LockResult lockMonitoring(const char *path, const char *runtimeDir, long *holder, char *why, size_t size)
{
	char dir[4096];
	snprintf(dir, sizeof dir, "%s", path);
	char *slash = strrchr(dir, '/');
	if (slash == dir)
		slash[1] = '\0';
	else if (slash)
		*slash = '\0';
	return takeLock(dir, path, runtimeDir, holder, why, size);
}

// The process id that holds the machine's lock at `path`, and the
// runtime directory it wrote there; 0 when none does, or it cannot be read.
static long lockedPlace(const char *lockFile, char *dir, size_t size)
{
	int fd = open(lockFile, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0)
		return 0;
	char text[4200] = "";
	long pid = 0;
	if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
		ssize_t n = pread(fd, text, sizeof text - 1, 0);
		text[n > 0 ? n : 0] = '\0';
		pid = strtol(text, nullptr, 10);
	}
	close(fd);
	const char *place = strchr(text, '\n');
	if (pid <= 0 || !place || !place[1])
		return 0;
	snprintf(dir, size, "%.*s", static_cast<int>(strcspn(place + 1, "\n")), place + 1);
	return pid;
}

long machineWatcher(char *dir, size_t size)
{
	char path[4096];
	char why[300];
	if (!monitoringLockPath(path, sizeof path, why, sizeof why))
		return 0;
	return lockedPlace(path, dir, size);
}

bool machineRuntimeDir(char *path, size_t size, char *why, size_t whySize)
{
	const char *named = getenv("PULSEWARDEN_LOCK");
	char lock[4096];
	if (named && named[0] == '/')
		snprintf(lock, sizeof lock, "%s", named);
	else
		snprintf(lock, sizeof lock, "%s/monitoring.lock", machineDir);
	if (lockedPlace(lock, path, size))
		return true;
	char *slash = strrchr(lock, '/');
	*slash = '\0';
	if (snprintf(path, size, "%s", lock[0] ? lock : "/") < static_cast<int>(size))
		return true;
	snprintf(why, whySize, "%s: %s", lock, strerror(ENAMETOOLONG));
	return false;
}

Holding watcherHolding(const char *dir, long *pid, char *why, size_t size)
{
	*pid = 0;
	char path[4096];
	snprintf(path, sizeof path, "%s/watch.lock", dir);
	int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0 && errno == ENOENT) {
		snprintf(why, size, "no watcher runs here (%s: %s)", path, strerror(errno));
		return holdingNone;
	}
	// Not ours to open (the machine's watcher's, 0600): that says nothing
	// of whether it is held.
	if (fd < 0) {
		snprintf(why, size, "cannot open %s: %s", path, strerror(errno));
		return holdingUntold;
	}
	// A lock that can be had is nobody's: its file outlives its watcher.
	if (flock(fd, LOCK_SH | LOCK_NB) == 0) {
		close(fd);
		snprintf(why, size, "no watcher runs here (%s is not held)", path);
		return holdingNone;
	}
	int error = errno;
	*pid = error == EWOULDBLOCK ? holderOf(fd) : 0;
	close(fd);
	if (error != EWOULDBLOCK) {
		snprintf(why, size, "cannot lock %s: %s", path, strerror(error));
		return holdingUntold;
	}
	if (*pid <= 0) {
		*pid = 0;
		snprintf(why, size, "the watcher that holds %s has not written its process id", path);
	}
	return holdingHeld;
}

long runningWatcher(const char *dir, char *why, size_t size)
{
	long pid;
	return watcherHolding(dir, &pid, why, size) == holdingHeld && pid ? pid : 0;
}

// The process's state letter and its start, in ticks since the boot,
// from /proc/PID/stat, which every user may read (but for hidepid=).
static bool processStat(long pid, char *state, unsigned long long *ticks, char *why, size_t size)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/%ld/stat", pid);
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	char stat[1024];
	ssize_t n = fd < 0 ? -1 : read(fd, stat, sizeof stat - 1);
	int error = errno;
	if (fd >= 0)
		close(fd);
	if (n <= 0) {
		snprintf(why, size, "cannot read %s: %s", path, n < 0 ? strerror(error) : "empty");
		return false;
	}
	stat[n] = '\0';
	// Its name, in parentheses, may hold anything: the fields follow the
	// last one. The state is the 3rd, the start the 22nd.
	const char *field = strrchr(stat, ')');
	if (!field || sscanf(field, ") %c", state) != 1) {
		snprintf(why, size, "%s: no state in it", path);
		return false;
	}
	for (int i = 2; field && i < 22; i++)
		field = strchr(field + 1, ' ');
	char *end = nullptr;
	if (field)
		*ticks = strtoull(field, &end, 10);
	if (!field || end == field) {
		snprintf(why, size, "%s: no start time in it", path);
		return false;
	}
	return true;
}

bool runtimeDirInMemory(const char *dir)
{
	// The kernel's magic numbers (linux/magic.h) of tmpfs and ramfs.
	const long tmpfsMagic = 0x01021994;
	const long ramfsMagic = 0x858458f6;
	struct statfs fs;
	return statfs(dir, &fs) == 0 && (static_cast<long>(fs.f_type) == tmpfsMagic
		|| static_cast<long>(fs.f_type) == ramfsMagic);
}

bool processStart(long pid, char *text, size_t size, char *why, size_t whySize)
{
	char state;
	unsigned long long ticks;
	if (!processStat(pid, &state, &ticks, why, whySize))
		return false;
	snprintf(text, size, "%llu", ticks);
	return true;
}

ProcessSeen processSeen(long pid, const char *start, char *why, size_t size)
{
	// EPERM: there, but another user's.
	if (pid <= 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
		snprintf(why, size, "process %ld has ended", pid);
		return processEnded;
	}
	char state;
	unsigned long long ticks;
	char unread[300];
	if (!processStat(pid, &state, &ticks, unread, sizeof unread)) {
		if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
			snprintf(why, size, "process %ld has ended", pid);
			return processEnded;
		}
		snprintf(why, size, "%s", unread);
		return processUntold;
	}
	char now[32];
	snprintf(now, sizeof now, "%llu", ticks);
	// A process that has exited and waits to be reaped does not run.
	if ((start[0] && strcmp(now, start) != 0) || state == 'Z' || state == 'X') {
		snprintf(why, size, "process %ld has ended%s", pid, state == 'Z' || state == 'X' ? ""
			: " (another has its id now)");
		return processEnded;
	}
	if (start[0])
		return processRuns;
	snprintf(why, size, "a process %ld runs, but its status does not say when its watcher started, to tell it "
		"from another given the same id", pid);
	return processUntold;
}

bool askToReload(long pid, char *why, size_t size)
{
	if (kill(static_cast<pid_t>(pid), SIGHUP) == 0)
		return true;
	snprintf(why, size, "cannot signal process %ld: %s", pid, strerror(errno));
	return false;
}

bool defaultStateDir(char *path, size_t size, char *why, size_t whySize)
{
	const char *unit = getenv("STATE_DIRECTORY");
	const char *state = getenv("XDG_STATE_HOME");
	const char *home = getenv("HOME");
	int n;
	// Several, with colons, when the unit names several: not ours.
	if (unit && unit[0] == '/' && !strchr(unit, ':'))
		n = snprintf(path, size, "%s", unit);
	else if (geteuid() == 0)
		n = snprintf(path, size, "/var/lib/pulsewarden");
	else if (state && state[0] == '/')
		n = snprintf(path, size, "%s/pulsewarden", state);
	else if (home && home[0] == '/')
		n = snprintf(path, size, "%s/.local/state/pulsewarden", home);
	else {
		snprintf(why, whySize, "neither XDG_STATE_HOME nor HOME is set");
		return false;
	}
	if (n < 0 || static_cast<size_t>(n) >= size) {
		snprintf(why, whySize, "its path is too long");
		return false;
	}
	return true;
}

bool makeStateDir(const char *dir, char *why, size_t size)
{
	// The directories above, for the user alone, as XDG's own are made.
	char above[4096];
	snprintf(above, sizeof above, "%s", dir);
	for (char *slash = strchr(above + 1, '/'); slash; slash = strchr(slash + 1, '/')) {
		*slash = '\0';
		if (mkdir(above, 0700) != 0 && errno != EEXIST) {
			snprintf(why, size, "cannot make %s: %s", above, strerror(errno));
			return false;
		}
		*slash = '/';
	}
	return ownDirectory(dir, why, size);
}
