// --tcp on Linux: sockets that connect without blocking, waited on with
// poll(), for the race in probe_tcp.cpp; and a nearby address tried on
// the watcher's own thread.
#include "probe_tcp.h"

#include "core/duration.h"
#include "system.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netdb.h>
#include <poll.h>
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

struct TcpAddresses {
	struct addrinfo *list;
	const struct addrinfo *each[tcpMostAddresses];
	int count;
};

TcpAddresses *resolveTcp(const char *host, const char *port, ProbeResult *result)
{
	struct addrinfo hints = {};
	hints.ai_family = AF_UNSPEC;
	hints.ai_socktype = SOCK_STREAM;
	hints.ai_flags = AI_NUMERICSERV;
	struct addrinfo *list = nullptr;
	int found = getaddrinfo(host, port, &hints, &list);
	auto *addresses = found == 0 ? static_cast<TcpAddresses *>(calloc(1, sizeof(TcpAddresses))) : nullptr;
	if (!addresses) {
		char reason[160];
		snprintf(reason, sizeof reason, "%s", found == 0 ? strerror(ENOMEM)
			: found == EAI_SYSTEM ? strerror(errno) : gai_strerror(found));
		lowerFirst(reason);
		probeFailed(result, "cannot resolve %s: %s", host, reason);
		if (list)
			freeaddrinfo(list);
		return nullptr;
	}
	addresses->list = list;
	for (const struct addrinfo *a = list; a && addresses->count < tcpMostAddresses; a = a->ai_next)
		addresses->each[addresses->count++] = a;
	return addresses;
}

int tcpAddressCount(const TcpAddresses *addresses)
{
	return addresses->count;
}

void freeTcpAddresses(TcpAddresses *addresses)
{
	freeaddrinfo(addresses->list);
	free(addresses);
}

void startTcpAttempt(const TcpAddresses *addresses, int index, TcpAttempt *attempt)
{
	const struct addrinfo *a = addresses->each[index];
	*attempt = TcpAttempt{-1, 0, false};
	int fd = socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
	if (fd < 0) {
		attempt->error = errno;
		return;
	}
	if (connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
		attempt->connected = true;
		close(fd);
	} else if (errno == EINPROGRESS) {
		attempt->socket = fd;
	} else {
		attempt->error = errno;
		close(fd);
	}
}

void waitTcpAttempts(TcpAttempt *attempts, int count, int64_t ns)
{
	struct pollfd fds[tcpMostAddresses];
	for (int i = 0; i < count; i++)
		fds[i] = {static_cast<int>(attempts[i].socket), POLLOUT, 0};
	int ms = static_cast<int>((ns + nsPerMs - 1) / nsPerMs);
	if (poll(fds, static_cast<nfds_t>(count), ms > 0 ? ms : 0) <= 0)
		return;
	for (int i = 0; i < count; i++) {
		if (attempts[i].socket == -1 || !fds[i].revents)
			continue;
		int error = 0;
		socklen_t length = sizeof error;
		getsockopt(fds[i].fd, SOL_SOCKET, SO_ERROR, &error, &length);
		attempts[i].connected = error == 0;
		attempts[i].error = error;
		closeTcpAttempt(&attempts[i]);
	}
}

void closeTcpAttempt(TcpAttempt *attempt)
{
	if (attempt->socket != -1)
		close(static_cast<int>(attempt->socket));
	attempt->socket = -1;
}

void tcpFailed(int error, ProbeResult *result)
{
	probeFailed(result, "%s", strerror(error));
	lowerFirst(result->how);
}
