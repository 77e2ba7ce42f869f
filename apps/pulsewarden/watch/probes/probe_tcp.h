// --tcp's sockets, as each system gives them (probe_tcp_posix.cpp,
// probe_tcp_windows.cpp), to the race that probe_tcp.cpp runs over a
// name's addresses.
#pragma once

#include "probe.h"

#include <cstdint>

// A name's addresses, resolved; at most tcpMostAddresses are tried.
struct TcpAddresses;
enum : int { tcpMostAddresses = 16 };
// Null, with the probe's failure, when the name does not resolve.
TcpAddresses *resolveTcp(const char *host, const char *port, ProbeResult *result);
int tcpAddressCount(const TcpAddresses *addresses);
void freeTcpAddresses(TcpAddresses *addresses);

// A connection under way; `error` 0 while it is, or once it is made.
struct TcpAttempt {
	intptr_t socket;   // -1: none, or none any more
	int error;         // the system's error; 0: none
	bool connected;
};
// Starts connecting to the address at `index`, without waiting.
void startTcpAttempt(const TcpAddresses *addresses, int index, TcpAttempt *attempt);
// Waits up to `ns` for the attempts under way; each that is over is made,
// or has its error, and its socket closed.
void waitTcpAttempts(TcpAttempt *attempts, int count, int64_t ns);
void closeTcpAttempt(TcpAttempt *attempt);
// A failure in the probe's words: "connection refused".
void tcpFailed(int error, ProbeResult *result);
