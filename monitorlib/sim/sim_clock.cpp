#include "sim_clock.h"

#include "sim_files.h"

#include <cstring>
#include <ctime>
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
