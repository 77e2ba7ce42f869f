// Linux: systemd's notification protocol (a datagram to NOTIFY_SOCKET),
// its watchdog period, and the journal, which takes stderr as it is.
#include "service_manager.h"

#include "system.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

void notifyServiceManager(const char *message)
{
	const char *socketPath = getenv("NOTIFY_SOCKET");
	if (!socketPath || (socketPath[0] != '/' && socketPath[0] != '@'))
		return;
	struct sockaddr_un address = {};
	address.sun_family = AF_UNIX;
	size_t length = strlen(socketPath);
	if (length >= sizeof address.sun_path)
		return;
	memcpy(address.sun_path, socketPath, length);
	if (address.sun_path[0] == '@')
		address.sun_path[0] = '\0';  // the abstract namespace
	int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return;
	// Never waited for: a service manager that reads nothing (its queue of
	// ten full) must not hold up heartbeats; what it misses, it misses.
	sendto(fd, message, strlen(message), MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<struct sockaddr *>(&address),
		static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + length));
	close(fd);
}

void notifyReloading()
{
	struct timespec now;
	clock_gettime(CLOCK_MONOTONIC, &now);
	char message[80];
	snprintf(message, sizeof message, "RELOADING=1\nMONOTONIC_USEC=%lld",
		static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000);
	notifyServiceManager(message);
}

int64_t serviceWatchdogNs()
{
	const char *usec = getenv("WATCHDOG_USEC");
	const char *pid = getenv("WATCHDOG_PID");
	if (!usec || !*usec || (pid && *pid && strtol(pid, nullptr, 10) != static_cast<long>(getpid())))
		return 0;
	char *end;
	unsigned long long value = strtoull(usec, &end, 10);
	// Microseconds; nonsense, or more than a day, is no watchdog to keep.
	if (*end || value == 0 || value > 86400ULL * 1000000)
		return 0;
	return static_cast<int64_t>(value) * 1000;
}

bool stderrIsJournal()
{
	const char *stream = getenv("JOURNAL_STREAM");
	if (!stream)
		return false;
	char *colon;
	unsigned long long device = strtoull(stream, &colon, 10);
	char *end;
	unsigned long long inode = *colon == ':' ? strtoull(colon + 1, &end, 10) : 0;
	struct stat st;
	return *colon == ':' && colon != stream && *end == '\0' && end != colon + 1
		&& fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

// systemd's journal takes stderr as it is.
bool logToServiceManager(int /*priority*/, const char * /*line*/)
{
	return false;
}

// The ids the catalog (pulsewarden.catalog) explains.
static const char *const messageIds[] = {
	"63a92937fc11401cb94c9119ae360b1b",  // messageResetConcluded
	"b1f6a999839547779df21653e63ec9ef",  // messageHeld
};

bool logMessage(MessageKind kind, int priority, const char *line)
{
	// Through libsystemd, loaded for these few lines only: stderr cannot
	// carry a field of its own.
	if (!stderrIsJournal())
		return false;
	using Send = int (*)(const char *format, ...);
	static void *library = loadSystemLibrary("libsystemd.so.0");
	Send send = nullptr;
	if (!library || !findFunction(library, "sd_journal_send", &send))
		return false;
	return send("MESSAGE=watch: %s", line, "PRIORITY=%d", priority, "MESSAGE_ID=%s", messageIds[kind],
		"SYSLOG_IDENTIFIER=pulsewarden", nullptr) >= 0;
}

bool servedByServiceManager()
{
	return false;
}

void serviceManagerEnding(int /*status*/)
{
}
