// --tcp on every system: a connection opened and closed again, raced over
// the addresses a name resolves to. Each starts a little after the one
// before, or at once when the one before has failed, and all are tried
// until the timeout, so that one address that never answers does not fail
// a name whose other address does.
#include "probe_tcp.h"

#include "core/duration.h"
#include "system.h"

#include <cstdlib>

// How long an attempt has to itself before the next starts: a quarter of
// a second, less for a short timeout and many addresses, so that all have
// started by half the timeout.
static int64_t staggerNs(int64_t timeoutNs, int count)
{
	int64_t share = timeoutNs / (2 * static_cast<int64_t>(count > 1 ? count : 1));
	return share < 250 * nsPerMs ? share : 250 * nsPerMs;
}

void runTcpProbe(const char *target, const ProbeSetting &setting, ProbeResult *result)
{
	int64_t begun = bootClockNs();
	int64_t deadline = begun + setting.timeoutNs;
	char host[256];
	char port[8];
	splitHostPort(target, host, sizeof host, port, sizeof port);
	TcpAddresses *addresses = resolveTcp(host, port, result);
	if (!addresses)
		return;
	int count = tcpAddressCount(addresses);
	int64_t stagger = staggerNs(setting.timeoutNs, count);
	TcpAttempt attempts[tcpMostAddresses];
	int started = 0;
	int64_t nextStart = begun;
	bool connected = false;
	for (;;) {
		int64_t now = bootClockNs();
		bool underWay = false;
		for (int i = 0; i < started; i++) {
			connected = connected || attempts[i].connected;
			underWay = underWay || attempts[i].socket != -1;
		}
		if (connected || now >= deadline || (!underWay && started == count))
			break;
		if (started < count && (now >= nextStart || !underWay)) {
			startTcpAttempt(addresses, started, &attempts[started]);
			started++;
			nextStart = now + stagger;
			continue;
		}
		int64_t until = started < count && nextStart < deadline ? nextStart : deadline;
		waitTcpAttempts(attempts, started, until - now);
	}
	freeTcpAddresses(addresses);
	bool timedOut = false;
	for (int i = 0; i < started; i++) {
		timedOut = timedOut || attempts[i].socket != -1;
		closeTcpAttempt(&attempts[i]);
	}
	if (connected)
		result->passed = true;
	else if (timedOut || started < count)
		result->timedOut = true;
	else
		tcpFailed(attempts[0].error, result);  // the name's first address, as it is listed
}
