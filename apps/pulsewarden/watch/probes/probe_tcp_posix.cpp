// --tcp on Linux: a connection opened and closed again, to each address
// the name resolves to in turn, all within the timeout.
#include "probe.h"

#include "core/duration.h"
#include "system.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netdb.h>
#include <sys/time.h>
#include <sys/socket.h>
#include <unistd.h>

bool tcpProbeReady(char * /*why*/, size_t /*size*/)
{
	return true;
}

// A connection to an address on this machine, or one near it, is made or
// refused within the connect call itself: tried for a millisecond on the
// watcher's thread, it saves the probe's thread two wake-ups a tick. A
// name, or an address that takes longer, is the probe thread's.
bool tcpAtOnce(const char *target, ProbeResult *result)
{
	char host[256];
	char port[8];
	splitHostPort(target, host, sizeof host, port, sizeof port);
	struct sockaddr_storage address = {};
	socklen_t length;
	auto *v4 = reinterpret_cast<struct sockaddr_in *>(&address);
	auto *v6 = reinterpret_cast<struct sockaddr_in6 *>(&address);
	// Five digits at most, 65535 at most: the target was checked at the start.
	uint16_t number = static_cast<uint16_t>(strtoul(port, nullptr, 10));
	if (inet_pton(AF_INET, host, &v4->sin_addr) == 1) {
		v4->sin_family = AF_INET;
		v4->sin_port = htons(number);
		length = sizeof *v4;
	} else if (inet_pton(AF_INET6, host, &v6->sin6_addr) == 1) {
		v6->sin6_family = AF_INET6;
		v6->sin6_port = htons(number);
		length = sizeof *v6;
	} else {
		return false;
	}
	int fd = socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return false;
	struct timeval limit = {0, 1000};
	int error = 0;
	if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0
		|| connect(fd, reinterpret_cast<struct sockaddr *>(&address), length) != 0)
		error = errno;
	close(fd);
	if (error == EINPROGRESS || error == EAGAIN || error == EINTR)
		return false;
	if (error == 0) {
		result->passed = true;
	} else {
		probeFailed(result, "%s", strerror(error));
		lowerFirst(result->how);
	}
	return true;
}

// Connects to one address: 0, or why not (an errno), or ETIMEDOUT once
// the deadline has come. A blocking connect bounded by the socket's send
// timeout: on the loopback it is done in the one call.
static int connectBy(const struct addrinfo *address, int64_t deadline)
{
	int64_t left = deadline - bootClockNs();
	if (left <= 0)
		return ETIMEDOUT;
	int fd = socket(address->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return errno;
	struct timeval limit = {static_cast<time_t>(left / nsPerS), static_cast<suseconds_t>(left % nsPerS / 1000)};
	int error = 0;
	if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0)
		error = errno;
	else if (connect(fd, address->ai_addr, address->ai_addrlen) != 0)
		error = errno == EINPROGRESS || errno == EAGAIN ? ETIMEDOUT : errno;
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
