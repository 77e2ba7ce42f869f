// --http on Linux, through libcurl, loaded when an --http probe is given:
// nothing else pays for it, and a machine without it is told which package
// to install. A run is one GET on a connection of its own; the status line
// and the headers decide, so the transfer ends where the body would begin.
#define CURL_DISABLE_TYPECHECK
#include "probe.h"

#include "core/duration.h"
#include "files.h"
#include "system.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

// The protocols a transfer may use, by the numbers curl fixes for good:
// whichever curl the machine has, whichever header this was built with.
constexpr CURLoption protocolsByName = static_cast<CURLoption>(10000 + 318);  // CURLOPT_PROTOCOLS_STR
constexpr CURLoption protocolsByMask = static_cast<CURLoption>(0 + 181);      // CURLOPT_PROTOCOLS

static struct {
	decltype(&curl_global_init) globalInit;
	decltype(&curl_easy_init) easyInit;
	decltype(&curl_easy_setopt) setopt;
	decltype(&curl_easy_perform) perform;
	decltype(&curl_easy_getinfo) getinfo;
	decltype(&curl_easy_cleanup) cleanup;
	decltype(&curl_easy_strerror) strerror;
	decltype(&curl_url) url;
	decltype(&curl_url_set) urlSet;
	decltype(&curl_url_cleanup) urlCleanup;
	decltype(&curl_slist_append) slistAppend;
	decltype(&curl_slist_free_all) slistFree;
	bool loaded;
} curl;

static bool loadCurl(char *why, size_t size)
{
	if (curl.loaded)
		return true;
	// Debian's two builds of the same library: OpenSSL's, then GnuTLS's.
	void *library = loadSystemLibrary("libcurl.so.4");
	if (!library)
		library = loadSystemLibrary("libcurl-gnutls.so.4");
	if (!library) {
		snprintf(why, size, "libcurl is not installed (install the package libcurl4)");
		return false;
	}
	if (!findFunction(library, "curl_global_init", &curl.globalInit) || !findFunction(library, "curl_easy_init", &curl.easyInit)
		|| !findFunction(library, "curl_easy_setopt", &curl.setopt) || !findFunction(library, "curl_easy_perform", &curl.perform)
		|| !findFunction(library, "curl_easy_getinfo", &curl.getinfo) || !findFunction(library, "curl_easy_cleanup", &curl.cleanup)
		|| !findFunction(library, "curl_easy_strerror", &curl.strerror) || !findFunction(library, "curl_url", &curl.url)
		|| !findFunction(library, "curl_url_set", &curl.urlSet) || !findFunction(library, "curl_url_cleanup", &curl.urlCleanup)
		|| !findFunction(library, "curl_slist_append", &curl.slistAppend)
		|| !findFunction(library, "curl_slist_free_all", &curl.slistFree)) {
		snprintf(why, size, "the libcurl installed is too old (libcurl4 7.62 or later is needed)");
		return false;
	}
	// Not safe beside other threads: once, here, before any probe runs.
	CURLcode code = curl.globalInit(CURL_GLOBAL_DEFAULT);
	if (code != CURLE_OK) {
		snprintf(why, size, "libcurl: %s", curl.strerror(code));
		return false;
	}
	curl.loaded = true;
	return true;
}

// The authorities a certificate is checked against: others' to change
// would be others' to forge.
static bool caFileUsable(const char *path, char *why, size_t size)
{
	char reason[280];
	if (inputTrusted(path, false, reason, sizeof reason))
		return true;
	snprintf(why, size, "ca_file %s", reason);
	return false;
}

bool httpProbeReady(const Probe &probe, char *why, size_t size)
{
	if (!loadCurl(why, size))
		return false;
	CURLU *parsed = curl.url();
	CURLUcode code = parsed ? curl.urlSet(parsed, CURLUPART_URL, probe.target, 0) : CURLUE_OUT_OF_MEMORY;
	if (parsed)
		curl.urlCleanup(parsed);
	if (code != CURLUE_OK) {
		snprintf(why, size, "not a URL (http://HOST[:PORT][/PATH] or https://...)");
		return false;
	}
	if (probe.caFile && !caFileUsable(probe.caFile, why, size))
		return false;
	return !probe.headersFile || eachHeader(probe.headersFile, nullptr, nullptr, why, size);
}

static bool addHeader(const char *line, void *context)
{
	auto *list = static_cast<struct curl_slist **>(context);
	struct curl_slist *longer = curl.slistAppend(*list, line);
	if (longer)
		*list = longer;
	return longer != nullptr;
}

// The answer as far as its headers: the last status line's code, and
// whether a final one (not an interim 1xx) has ended its headers.
// Never reached past a final answer's headers; never stdout, whatever comes.
static size_t discard(char * /*bytes*/, size_t /*size*/, size_t /*count*/, void * /*user*/)
{
	return 0;
}

struct HttpAnswer {
	long status;
	bool final;
};

static size_t header(char *bytes, size_t size, size_t count, void *user)
{
	HttpAnswer *answer = static_cast<HttpAnswer *>(user);
	size_t n = size * count;
	if (n > 5 && strncmp(bytes, "HTTP/", 5) == 0) {
		const char *code = static_cast<const char *>(memchr(bytes, ' ', n));
		answer->status = code ? strtol(code + 1, nullptr, 10) : 0;
	} else if ((n == 2 && bytes[0] == '\r') || (n == 1 && bytes[0] == '\n')) {
		// The headers end: a final answer is all that is needed of it.
		answer->final = answer->status >= 200;
		if (answer->final)
			return 0;
	}
	return n;
}

// Why a connection failed, as the system says it.
static void connectFailure(CURL *handle, ProbeResult *result, const char *detail)
{
	long error = 0;
	curl.getinfo(handle, CURLINFO_OS_ERRNO, &error);
	if (error) {
		probeFailed(result, "%s", strerror(static_cast<int>(error)));
		lowerFirst(result->how);
	} else {
		probeFailed(result, "%s", detail);
	}
}

void runHttpProbe(const Probe &probe, const ProbeSetting &setting, ProbeResult *result)
{
	char usable[300];
	readingOwnInput(setting, true);
	if (probe.caFile && !caFileUsable(probe.caFile, usable, sizeof usable)) {
		readingOwnInput(setting, false);
		probeOwnFault(result, "%s", usable);
		return;
	}
	// Read each time: a token replaced in the file is sent at the next run.
	struct curl_slist *headers = nullptr;
	char why[300];
	bool read = !probe.headersFile || eachHeader(probe.headersFile, addHeader, &headers, why, sizeof why);
	readingOwnInput(setting, false);
	if (!read) {
		curl.slistFree(headers);
		// The watcher's file, not the application: a token being rotated.
		probeOwnFault(result, "%s", why);
		return;
	}
	CURL *handle = curl.easyInit();
	if (!handle) {
		curl.slistFree(headers);
		probeFailed(result, "libcurl: out of memory");
		return;
	}
	char detail[CURL_ERROR_SIZE] = "";
	long ms = static_cast<long>((setting.timeoutNs + nsPerMs - 1) / nsPerMs);
	curl.setopt(handle, CURLOPT_URL, probe.target);
	if (probe.head)
		curl.setopt(handle, CURLOPT_NOBODY, 1L);
	if (probe.caFile)
		curl.setopt(handle, CURLOPT_CAINFO, probe.caFile);
	if (headers)
		curl.setopt(handle, CURLOPT_HTTPHEADER, headers);
	// By name from curl 7.85 on; a curl before it knows only the mask.
	if (curl.setopt(handle, protocolsByName, "http,https") != CURLE_OK)
		curl.setopt(handle, protocolsByMask, static_cast<long>(CURLPROTO_HTTP | CURLPROTO_HTTPS));
	curl.setopt(handle, CURLOPT_NOSIGNAL, 1L);
	curl.setopt(handle, CURLOPT_TIMEOUT_MS, ms);
	// Straight to the application, whatever proxy the environment names.
	curl.setopt(handle, CURLOPT_PROXY, "");
	curl.setopt(handle, CURLOPT_USERAGENT, "pulsewarden-watch/" PULSEWARDEN_VERSION);
	HttpAnswer answer = {};
	curl.setopt(handle, CURLOPT_WRITEFUNCTION, discard);
	curl.setopt(handle, CURLOPT_HEADERFUNCTION, header);
	curl.setopt(handle, CURLOPT_HEADERDATA, &answer);
	curl.setopt(handle, CURLOPT_ERRORBUFFER, detail);
	if (setting.insecure) {
		curl.setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
		curl.setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
	}
	CURLcode code = curl.perform(handle);
	if (!detail[0])
		snprintf(detail, sizeof detail, "%s", curl.strerror(code));
	lowerFirst(detail);
	if (answer.final) {
		result->passed = statusExpected(probe, answer.status);
		if (!result->passed)
			probeFailed(result, "status %ld", answer.status);
	} else if (code == CURLE_OPERATION_TIMEDOUT) {
		result->timedOut = true;
	} else if (answer.status > 0 && answer.status < 200) {
		probeFailed(result, "status %ld, and no final answer after it", answer.status);
	} else if (code == CURLE_COULDNT_CONNECT) {
		connectFailure(handle, result, detail);
	} else if (code == CURLE_SSL_CACERT_BADFILE) {
		// An emptied or malformed CA file: the watcher's, not the server's.
		probeOwnFault(result, "ca_file %s: %s", probe.caFile ? probe.caFile : "(the system's)", detail);
	} else if (code == CURLE_PEER_FAILED_VERIFICATION) {
		// "SSL certificate problem: self-signed certificate": the problem.
		static const char *const prefixes[] = {"SSL certificate problem: ", "SSL: "};
		const char *problem = detail;
		for (const char *prefix : prefixes)
			if (strncmp(problem, prefix, strlen(prefix)) == 0)
				problem += strlen(prefix);
		probeFailed(result, "certificate: %s", problem);
	} else {
		probeFailed(result, "%s", detail);
	}
	curl.cleanup(handle);
	curl.slistFree(headers);
}
