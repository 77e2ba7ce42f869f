// --tcp on Windows: a connection opened and closed again, to each address
// the name resolves to in turn, all within the timeout. Winsock is loaded
// when a --tcp probe is given.
#include "probe.h"

#include "core/duration.h"
#include "system.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

static struct {
	void *library;
	decltype(&WSAStartup) startup;
	decltype(&WSAGetLastError) lastError;
	decltype(&getaddrinfo) resolve;
	decltype(&freeaddrinfo) freeAddresses;
	decltype(&socket) open;
	decltype(&ioctlsocket) control;
	decltype(&connect) connect;
	decltype(&select) select;
	decltype(&getsockopt) option;
	decltype(&closesocket) close;
	decltype(&__WSAFDIsSet) isSet;
} ws;

bool tcpProbeReady(char *why, size_t size)
{
	if (ws.library)
		return true;
	void *library = loadSystemLibrary("ws2_32.dll");
	WSADATA data;
	if (!library || !findFunction(library, "WSAStartup", &ws.startup)
		|| !findFunction(library, "WSAGetLastError", &ws.lastError)
		|| !findFunction(library, "getaddrinfo", &ws.resolve)
		|| !findFunction(library, "freeaddrinfo", &ws.freeAddresses)
		|| !findFunction(library, "socket", &ws.open) || !findFunction(library, "ioctlsocket", &ws.control)
		|| !findFunction(library, "connect", &ws.connect) || !findFunction(library, "select", &ws.select)
		|| !findFunction(library, "getsockopt", &ws.option) || !findFunction(library, "closesocket", &ws.close)
		|| !findFunction(library, "__WSAFDIsSet", &ws.isSet) || ws.startup(MAKEWORD(2, 2), &data) != 0) {
		snprintf(why, size, "Winsock (ws2_32.dll) cannot be loaded");
		return false;
	}
	ws.library = library;
	return true;
}

// Winsock bounds no blocking connect: every run is the probe thread's.
bool tcpAtOnce(const char *, ProbeResult *)
{
	return false;
}

// Winsock's errors in the words a line uses.
static void failure(int error, ProbeResult *result)
{
	static const struct {
		int error;
		const char *how;
	} reasons[] = {
		{WSAECONNREFUSED, "connection refused"},
		{WSAENETUNREACH, "network is unreachable"},
		{WSAEHOSTUNREACH, "no route to host"},
		{WSAECONNRESET, "connection reset by peer"},
		{WSAEADDRNOTAVAIL, "cannot assign requested address"},
		{0, nullptr},
	};
	size_t i = 0;
	while (reasons[i].how && reasons[i].error != error)
		i++;
	if (reasons[i].how)
		probeFailed(result, "%s", reasons[i].how);
	else
		probeFailed(result, "Winsock error %d", error);
}

// Connects to one address: 0, or why not, or WSAETIMEDOUT once the
// deadline has come.
static int connectBy(const struct addrinfo *address, int64_t deadline)
{
	SOCKET s = ws.open(address->ai_family, SOCK_STREAM, IPPROTO_TCP);
	if (s == INVALID_SOCKET)
		return ws.lastError();
	u_long nonBlocking = 1;
	ws.control(s, FIONBIO, &nonBlocking);
	int error = 0;
	if (ws.connect(s, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0) {
		error = ws.lastError();
		if (error == WSAEWOULDBLOCK) {
			int64_t left = deadline - bootClockNs();
			if (left < 0)
				left = 0;
			struct timeval wait = {static_cast<long>(left / nsPerS), static_cast<long>(left % nsPerS / 1000)};
			fd_set writable;
			fd_set failed;
			FD_ZERO(&writable);
			FD_ZERO(&failed);
			FD_SET(s, &writable);
			FD_SET(s, &failed);
			int ready = ws.select(0, nullptr, &writable, &failed, &wait);
			if (ready == 0) {
				error = WSAETIMEDOUT;
			} else if (ready < 0) {
				error = ws.lastError();
			} else {
				int length = sizeof error;
				error = 0;
				ws.option(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length);
				if (error == 0 && ws.isSet(s, &failed))
					error = WSAECONNREFUSED;
			}
		}
	}
	ws.close(s);
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
	if (ws.resolve(host, port, &hints, &addresses) != 0) {
		probeFailed(result, "cannot resolve %s", host);
		return;
	}
	int error = WSAHOST_NOT_FOUND;
	for (const struct addrinfo *a = addresses; a; a = a->ai_next) {
		error = connectBy(a, deadline);
		if (error == 0 || error == WSAETIMEDOUT)
			break;
	}
	ws.freeAddresses(addresses);
	if (error == 0)
		result->passed = true;
	else if (error == WSAETIMEDOUT)
		result->timedOut = true;
	else
		failure(error, result);
}
