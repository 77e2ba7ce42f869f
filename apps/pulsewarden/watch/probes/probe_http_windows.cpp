// --http on Windows, through WinHTTP, loaded when an --http probe is
// given; TLS and the trust store are the system's. A run is one GET on a
// session of its own; the status line decides, so the body is not read.
#include "probe.h"

#include "core/duration.h"
#include "system.h"

#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static struct {
	void *library;
	decltype(&WinHttpOpen) open;
	decltype(&WinHttpConnect) connect;
	decltype(&WinHttpOpenRequest) openRequest;
	decltype(&WinHttpSetOption) setOption;
	decltype(&WinHttpSetTimeouts) setTimeouts;
	decltype(&WinHttpSendRequest) send;
	decltype(&WinHttpReceiveResponse) receive;
	decltype(&WinHttpQueryHeaders) queryHeaders;
	decltype(&WinHttpCloseHandle) close;
	decltype(&WinHttpCrackUrl) crackUrl;
} http;

static bool loadWinHttp(char *why, size_t size)
{
	if (http.library)
		return true;
	void *library = loadSystemLibrary("winhttp.dll");
	if (!library || !findFunction(library, "WinHttpOpen", &http.open)
		|| !findFunction(library, "WinHttpConnect", &http.connect)
		|| !findFunction(library, "WinHttpOpenRequest", &http.openRequest)
		|| !findFunction(library, "WinHttpSetOption", &http.setOption)
		|| !findFunction(library, "WinHttpSetTimeouts", &http.setTimeouts)
		|| !findFunction(library, "WinHttpSendRequest", &http.send)
		|| !findFunction(library, "WinHttpReceiveResponse", &http.receive)
		|| !findFunction(library, "WinHttpQueryHeaders", &http.queryHeaders)
		|| !findFunction(library, "WinHttpCloseHandle", &http.close)
		|| !findFunction(library, "WinHttpCrackUrl", &http.crackUrl)) {
		snprintf(why, size, "WinHTTP (winhttp.dll) cannot be loaded");
		return false;
	}
	http.library = library;
	return true;
}

// The URL's parts, as WinHTTP needs them.
struct Url {
	wchar_t text[2048];
	wchar_t host[256];
	wchar_t path[2048];   // with its query
	INTERNET_PORT port;
	bool secure;
};

static bool crack(const char *url, Url *parts)
{
	if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, url, -1, parts->text, 2048))
		return false;
	URL_COMPONENTS c = {};
	c.dwStructSize = sizeof c;
	c.lpszHostName = parts->host;
	c.dwHostNameLength = 256;
	c.lpszUrlPath = parts->path;
	c.dwUrlPathLength = 2048;
	wchar_t extra[2048];
	c.lpszExtraInfo = extra;
	c.dwExtraInfoLength = 2048;
	if (!http.crackUrl(parts->text, 0, 0, &c) || !parts->host[0])
		return false;
	// The query goes with the path; a fragment is the browser's alone.
	if (wchar_t *fragment = wcschr(extra, L'#'))
		*fragment = L'\0';
	if (wcslen(parts->path) + wcslen(extra) >= 2048)
		return false;
	if (!parts->path[0])
		wcscpy(parts->path, L"/");
	wcscat(parts->path, extra);
	parts->port = c.nPort;
	parts->secure = c.nScheme == INTERNET_SCHEME_HTTPS;
	return true;
}

bool httpProbeReady(const Probe &probe, char *why, size_t size)
{
	if (!loadWinHttp(why, size))
		return false;
	Url parts;
	if (!crack(probe.target, &parts)) {
		snprintf(why, size, "not a URL (http://HOST[:PORT][/PATH] or https://...)");
		return false;
	}
	// WinHTTP trusts the machine's store alone.
	if (probe.caFile) {
		snprintf(why, size, "ca_file: on Windows, import the authority into the machine's Trusted Root "
			"Certification Authorities (certlm.msc) instead");
		return false;
	}
	return !probe.headersFile || eachHeader(probe.headersFile, nullptr, nullptr, why, size);
}

// The headers file's lines as WinHTTP takes them: UTF-16, each ending in
// CR LF.
struct Headers {
	wchar_t text[16384];
	size_t used;
};

static bool addHeader(const char *line, void *context)
{
	auto *h = static_cast<Headers *>(context);
	size_t left = sizeof h->text / sizeof h->text[0] - h->used;
	int n = MultiByteToWideChar(CP_UTF8, 0, line, -1, h->text + h->used, static_cast<int>(left > 2 ? left - 2 : 0));
	if (n <= 0)
		return false;
	h->used += static_cast<size_t>(n) - 1;
	h->text[h->used++] = L'\r';
	h->text[h->used++] = L'\n';
	h->text[h->used] = L'\0';
	return true;
}

// Why a request failed, as the probe's line says it.
static void failure(DWORD error, ProbeResult *result)
{
	static const struct {
		DWORD error;
		const char *how;
	} reasons[] = {
		{ERROR_WINHTTP_CANNOT_CONNECT, "cannot connect"},
		{ERROR_WINHTTP_CONNECTION_ERROR, "the connection was reset"},
		{ERROR_WINHTTP_NAME_NOT_RESOLVED, "cannot resolve the host name"},
		{ERROR_WINHTTP_INVALID_SERVER_RESPONSE, "not an HTTP answer"},
		{ERROR_WINHTTP_SECURE_INVALID_CA, "certificate: not issued by an authority this machine trusts"},
		{ERROR_WINHTTP_SECURE_CERT_CN_INVALID, "certificate: not for this host name"},
		{ERROR_WINHTTP_SECURE_CERT_DATE_INVALID, "certificate: expired or not valid yet"},
		{ERROR_WINHTTP_SECURE_CERT_REVOKED, "certificate: revoked"},
		{ERROR_WINHTTP_SECURE_INVALID_CERT, "certificate: not valid"},
		{ERROR_WINHTTP_SECURE_FAILURE, "certificate: not accepted, or no secure connection"},
		{ERROR_WINHTTP_SECURE_CHANNEL_ERROR, "no secure connection (the TLS handshake failed)"},
		{0, nullptr},
	};
	if (error == ERROR_WINHTTP_TIMEOUT) {
		result->timedOut = true;
		return;
	}
	size_t i = 0;
	while (reasons[i].how && reasons[i].error != error)
		i++;
	if (reasons[i].how) {
		probeFailed(result, "%s", reasons[i].how);
		return;
	}
	char words[160];
	DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
		static_cast<HMODULE>(http.library), error, 0, words, sizeof words, nullptr);
	while (n > 0 && (words[n - 1] == '\r' || words[n - 1] == '\n' || words[n - 1] == '.' || words[n - 1] == ' '))
		words[--n] = '\0';
	if (n == 0)
		probeFailed(result, "WinHTTP error %lu", static_cast<unsigned long>(error));
	else
		probeFailed(result, "%s", words);
	lowerFirst(result->how);
}

void runHttpProbe(const Probe &probe, const ProbeSetting &setting, ProbeResult *result)
{
	Url parts;
	if (!crack(probe.target, &parts)) {
		probeFailed(result, "not a URL");
		return;
	}
	// Read each time: a token replaced in the file is sent at the next run.
	auto *headerBlock = static_cast<Headers *>(calloc(1, sizeof(Headers)));
	if (!headerBlock) {
		probeFailed(result, "out of memory");
		return;
	}
	Headers &headers = *headerBlock;
	char why[300];
	readingOwnInput(setting, true);
	bool read = !probe.headersFile || eachHeader(probe.headersFile, addHeader, &headers, why, sizeof why);
	readingOwnInput(setting, false);
	if (!read) {
		free(headerBlock);
		// The watcher's file, not the application: a token being rotated.
		probeOwnFault(result, "%s", why);
		return;
	}
	int ms = static_cast<int>((setting.timeoutNs + nsPerMs - 1) / nsPerMs);
	// Straight to the application, whatever proxy the machine names.
	HINTERNET session = http.open(L"pulsewarden-watch/" PULSEWARDEN_WIDE_VERSION, WINHTTP_ACCESS_TYPE_NO_PROXY,
		WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
	HINTERNET connection = session ? http.connect(session, parts.host, parts.port, 0) : nullptr;
	HINTERNET request = connection ? http.openRequest(connection, probe.head ? L"HEAD" : L"GET", parts.path, nullptr, WINHTTP_NO_REFERER,
		WINHTTP_DEFAULT_ACCEPT_TYPES, parts.secure ? WINHTTP_FLAG_SECURE : 0) : nullptr;
	bool answered = false;
	if (request) {
		http.setTimeouts(request, ms, ms, ms, ms);
		DWORD noRedirects = WINHTTP_DISABLE_REDIRECTS;
		http.setOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &noRedirects, sizeof noRedirects);
		if (setting.insecure) {
			DWORD anyCertificate = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID
				| SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
			http.setOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &anyCertificate, sizeof anyCertificate);
		}
		answered = http.send(request, headers.used ? headers.text : WINHTTP_NO_ADDITIONAL_HEADERS,
				headers.used ? static_cast<DWORD>(-1L) : 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
			&& http.receive(request, nullptr);
	}
	if (!answered) {
		failure(GetLastError(), result);
	} else {
		DWORD status = 0;
		DWORD length = sizeof status;
		if (!http.queryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
			    WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX)) {
			failure(GetLastError(), result);
		} else {
			result->passed = statusExpected(probe, static_cast<long>(status));
			if (!result->passed)
				probeFailed(result, "status %lu", static_cast<unsigned long>(status));
		}
	}
	if (request)
		http.close(request);
	if (connection)
		http.close(connection);
	if (session)
		http.close(session);
	free(headerBlock);
}
