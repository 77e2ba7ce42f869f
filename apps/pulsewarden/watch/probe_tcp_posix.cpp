// --tcp on Linux: a connection opened and closed again, to each address
// the name resolves to in turn, all within the timeout.
#include "probe.h"

#include "system.h"
#include "watch_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool tcpProbeReady(char *, size_t)
{
	return true;
}

// Connects to one address; 0, or why not (an errno), or ETIMEDOUT once the
// deadline has come.
static int connectBy(const struct addrinfo *address, int64_t deadline)
{
	int fd = socket(address->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return errno;
	int error = 0;
	if (connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
		error = errno;
		while (error == EINPROGRESS || error == EINTR) {
			int64_t left = deadline - bootClockNs();
			if (left <= 0) {
				error = ETIMEDOUT;
				break;
			}
			struct pollfd wait = {fd, POLLOUT, 0};
			int ready = poll(&wait, 1, static_cast<int>((left + nsPerMs - 1) / nsPerMs));
			if (ready < 0) {
				error = errno;
				continue;
			}
			if (ready == 0)
				continue;
			socklen_t length = sizeof error;
			if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
				error = errno;
		}
	}
	close(fd);
	return error;
}

void runTcpProbe(const char *target, const ProbeSetting &setting, ProbeResult *result)
{
	int64_t deadline = bootClockNs() + setting.timeoutNs;
	char host[256];
	char port[8];
	splitHostPort(target, host, sizeof host, port, sizeof port);
	struct addrinfo hints = {};
	hints.ai_family = AF_UNSPEC;
	hints.ai_socktype = SOCK_STREAM;
	hints.ai_flags = AI_NUMERICSERV;
	struct addrinfo *addresses = nullptr;
	int found = getaddrinfo(host, port, &hints, &addresses);
	if (found != 0) {
		char reason[160];
		snprintf(reason, sizeof reason, "%s", found == EAI_SYSTEM ? strerror(errno) : gai_strerror(found));
		lowerFirst(reason);
		probeFailed(result, "cannot resolve %s: %s", host, reason);
		return;
	}
	int error = ENOENT;
	for (const struct addrinfo *a = addresses; a; a = a->ai_next) {
		error = connectBy(a, deadline);
		if (error == 0 || error == ETIMEDOUT)
			break;
	}
	freeaddrinfo(addresses);
	if (error == 0) {
		result->passed = true;
	} else if (error == ETIMEDOUT) {
		result->timedOut = true;
	} else {
		probeFailed(result, "%s", strerror(error));
		lowerFirst(result->how);
	}
}
