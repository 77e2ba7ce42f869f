// --tcp on Windows: sockets that connect without blocking, waited on with
// select(), for the race in probe_tcp.cpp. Winsock is loaded when a --tcp
// probe is given.
#include "probe_tcp.h"

#include "core/duration.h"
#include "system.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
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
	auto *addresses = ws.resolve(host, port, &hints, &list) == 0
		? static_cast<TcpAddresses *>(calloc(1, sizeof(TcpAddresses))) : nullptr;
	if (!addresses) {
		probeFailed(result, "cannot resolve %s", host);
		if (list)
			ws.freeAddresses(list);
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
	ws.freeAddresses(addresses->list);
	free(addresses);
}

void startTcpAttempt(const TcpAddresses *addresses, int index, TcpAttempt *attempt)
{
	const struct addrinfo *a = addresses->each[index];
	*attempt = TcpAttempt{-1, 0, false};
	SOCKET s = ws.open(a->ai_family, SOCK_STREAM, IPPROTO_TCP);
	if (s == INVALID_SOCKET) {
		attempt->error = ws.lastError();
		return;
	}
	u_long nonBlocking = 1;
	ws.control(s, FIONBIO, &nonBlocking);
	if (ws.connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
		attempt->connected = true;
		ws.close(s);
	} else if (ws.lastError() == WSAEWOULDBLOCK) {
		attempt->socket = static_cast<intptr_t>(s);
	} else {
		attempt->error = ws.lastError();
		ws.close(s);
	}
}

void waitTcpAttempts(TcpAttempt *attempts, int count, int64_t ns)
{
	fd_set writable;
	fd_set failed;
	FD_ZERO(&writable);
	FD_ZERO(&failed);
	bool any = false;
	for (int i = 0; i < count; i++) {
		if (attempts[i].socket == -1)
			continue;
		FD_SET(static_cast<SOCKET>(attempts[i].socket), &writable);
		FD_SET(static_cast<SOCKET>(attempts[i].socket), &failed);
		any = true;
	}
	if (ns < 0)
		ns = 0;
	if (!any) {
		// Winsock's select() waits on sockets only.
		Sleep(static_cast<DWORD>((ns + nsPerMs - 1) / nsPerMs));
		return;
	}
	struct timeval wait = {static_cast<long>(ns / nsPerS), static_cast<long>(ns % nsPerS / 1000)};
	if (ws.select(0, nullptr, &writable, &failed, &wait) <= 0)
		return;
	for (int i = 0; i < count; i++) {
		SOCKET s = static_cast<SOCKET>(attempts[i].socket);
		if (attempts[i].socket == -1 || (!ws.isSet(s, &writable) && !ws.isSet(s, &failed)))
			continue;
		int error = 0;
		int length = sizeof error;
		ws.option(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length);
		if (error == 0 && ws.isSet(s, &failed))
			error = WSAECONNREFUSED;
		attempts[i].connected = error == 0;
		attempts[i].error = error;
		closeTcpAttempt(&attempts[i]);
	}
}

void closeTcpAttempt(TcpAttempt *attempt)
{
	if (attempt->socket != -1)
		ws.close(static_cast<SOCKET>(attempt->socket));
	attempt->socket = -1;
}

// Winsock's errors in the words a line uses.
void tcpFailed(int error, ProbeResult *result)
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
