// --process and --file on Linux: what /proc and the file system say.
#include "probe.h"

#include "core/duration.h"
#include "system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The name the kernel gives a process, cut at 15 bytes, from its stat
// line, which also says whether it has ended and waits to be collected.
static bool runningAs(const char *pid, char *name, size_t size)
{
	char path[300];
	snprintf(path, sizeof path, "/proc/%s/stat", pid);
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	char line[512];
	ssize_t n = read(fd, line, sizeof line - 1);
	close(fd);
	if (n <= 0)
		return false;
	line[n] = '\0';
	// "PID (NAME) STATE ...": the name may hold anything, brackets too.
	char *open = strchr(line, '(');
	char *close = strrchr(line, ')');
	if (!open || !close || close < open || close[1] != ' ' || close[2] == 'Z' || close[2] == 'X')
		return false;
	snprintf(name, size, "%.*s", static_cast<int>(close - open - 1), open + 1);
	return true;
}

static const char *baseName(const char *path)
{
	const char *slash = strrchr(path, '/');
	return slash ? slash + 1 : path;
}

// Its whole name: its executable's (a program that renamed itself, a
// script's interpreter; only where we may read it), or its command
// line's first word's (a script, or a program started by a link).
static bool wholeNameIs(const char *pid, const char *name)
{
	char path[300];
	char text[4096];
	snprintf(path, sizeof path, "/proc/%s/exe", pid);
	ssize_t n = readlink(path, text, sizeof text - 1);
	if (n > 0) {
		text[n] = '\0';
		const char *deleted = " (deleted)";
		size_t length = static_cast<size_t>(n);
		if (length > strlen(deleted) && strcmp(text + length - strlen(deleted), deleted) == 0)
			text[length - strlen(deleted)] = '\0';
		if (strcmp(baseName(text), name) == 0)
			return true;
	}
	snprintf(path, sizeof path, "/proc/%s/cmdline", pid);
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	n = read(fd, text, sizeof text - 1);
	close(fd);
	if (n <= 0)
		return false;
	text[n] = '\0';  // the first word ends at its own NUL
	return strcmp(baseName(text), name) == 0;
}

void runProcessProbe(const char *name, ProbeResult *result)
{
	// The kernel's name first, which is cheap; the whole name where the
	// kernel's is cut, or is another. Never the watcher itself.
	char self[32];
	snprintf(self, sizeof self, "%ld", static_cast<long>(getpid()));
	const size_t kept = 15;
	bool longName = strlen(name) >= kept;
	for (int pass = 0; pass < 2 && !result->passed; pass++) {
		DIR *processes = opendir("/proc");
		if (!processes) {
			probeFailed(result, "cannot read /proc: %s", strerror(errno));
			return;
		}
		while (struct dirent *entry = readdir(processes)) {
			if (entry->d_name[0] < '0' || entry->d_name[0] > '9' || strcmp(entry->d_name, self) == 0)
				continue;
			char comm[64];
			if (!runningAs(entry->d_name, comm, sizeof comm))
				continue;
			bool same = pass == 0 ? !longName && strcmp(comm, name) == 0 : wholeNameIs(entry->d_name, name);
			if (same) {
				result->passed = true;
				break;
			}
		}
		closedir(processes);
	}
	if (!result->passed)
		probeFailed(result, "not running");
}

void runFileProbe(const char *path, const ProbeSetting &setting, FileLook *look, ProbeResult *result)
{
	struct stat st;
	if (stat(path, &st) != 0) {
		probeFailed(result, "%s", strerror(errno));
		lowerFirst(result->how);
		return;
	}
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	int64_t mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * nsPerS + st.st_mtim.tv_nsec;
	int64_t wallAgeNs = (static_cast<int64_t>(now.tv_sec) - st.st_mtim.tv_sec) * nsPerS + (now.tv_nsec - st.st_mtim.tv_nsec);
	judgeFileAge(fileAgeNs(look, mtimeNs, wallAgeNs, bootClockNs()), setting, result);
}
