// Linux.
#include "system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

int64_t bootClockNs()
{
	// CLOCK_BOOTTIME also counts time suspended: a suspended guest sends no
	// heartbeats either.
	struct timespec ts;
	clock_gettime(CLOCK_BOOTTIME, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t awakeClockNs()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double unixTimeS()
{
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void localTimeText(char *text, size_t size, bool milliseconds)
{
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	struct tm local;
	localtime_r(&now.tv_sec, &local);
	char seconds[32];
	strftime(seconds, sizeof seconds, "%Y-%m-%d %H:%M:%S", &local);
	if (milliseconds)
		snprintf(text, size, "%s.%03ld", seconds, now.tv_nsec / 1000000);
	else
		snprintf(text, size, "%s", seconds);
}

void localTimeOf(double unixS, char *text, size_t size)
{
	time_t at = static_cast<time_t>(unixS);
	struct tm local;
	localtime_r(&at, &local);
	strftime(text, size, "%Y-%m-%d %H:%M:%S", &local);
}

void lastErrorText(char *text, size_t size)
{
	snprintf(text, size, "%s", strerror(errno));
}

bool kernelBootId(char *id, size_t size, char *why, size_t whySize)
{
	int fd = open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
	if (fd < 0) {
		snprintf(why, whySize, "cannot tell the boot: /proc/sys/kernel/random/boot_id: %s", strerror(errno));
		return false;
	}
	ssize_t n = read(fd, id, size - 1);
	close(fd);
	// A uuid: printable, no spaces; anything else is not trusted.
	ssize_t length = 0;
	while (length < n && id[length] > ' ' && id[length] < 127)
		length++;
	id[length] = '\0';
	if (length == 0)
		snprintf(why, whySize, "cannot tell the boot: the kernel's boot id is empty");
	return length > 0;
}

long ownProcessId()
{
	return static_cast<long>(getpid());
}

void pauseFor(int64_t ns)
{
	struct timespec pause = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
	nanosleep(&pause, nullptr);
}

void *loadSystemLibrary(const char *name)
{
	return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

LibraryFunction libraryFunction(void *library, const char *name)
{
	return reinterpret_cast<LibraryFunction>(dlsym(library, name));
}
