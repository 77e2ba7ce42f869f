// --http on Linux, through libcurl, loaded when an --http probe is given:
// nothing else pays for it, and a machine without it is told which package
// to install. A run is one GET on a connection of its own; the status line
// decides, so the body is not read.
#define CURL_DISABLE_TYPECHECK
#include "probe.h"

#include "core/duration.h"
#include "system.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
		|| !findFunction(library, "curl_url_set", &curl.urlSet) || !findFunction(library, "curl_url_cleanup", &curl.urlCleanup)) {
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

bool httpProbeReady(const char *url, char *why, size_t size)
{
	if (!loadCurl(why, size))
		return false;
	CURLU *parsed = curl.url();
	CURLUcode code = parsed ? curl.urlSet(parsed, CURLUPART_URL, url, 0) : CURLUE_OUT_OF_MEMORY;
	if (parsed)
		curl.urlCleanup(parsed);
	if (code != CURLUE_OK) {
		snprintf(why, size, "not a URL (http://HOST[:PORT][/PATH] or https://...)");
		return false;
	}
	return true;
}

// The body is not wanted: the first of it ends the transfer.
static size_t discard(char * /*bytes*/, size_t /*size*/, size_t /*count*/, void * /*user*/)
{
	return 0;
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

void runHttpProbe(const char *url, const ProbeSetting &setting, ProbeResult *result)
{
	CURL *handle = curl.easyInit();
	if (!handle) {
		probeFailed(result, "libcurl: out of memory");
		return;
	}
	char detail[CURL_ERROR_SIZE] = "";
	long ms = static_cast<long>((setting.timeoutNs + nsPerMs - 1) / nsPerMs);
	curl.setopt(handle, CURLOPT_URL, url);
	curl.setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
	curl.setopt(handle, CURLOPT_NOSIGNAL, 1L);
	curl.setopt(handle, CURLOPT_TIMEOUT_MS, ms);
	// Straight to the application, whatever proxy the environment names.
	curl.setopt(handle, CURLOPT_PROXY, "");
	curl.setopt(handle, CURLOPT_USERAGENT, "pulsewarden-watch/" PULSEWARDEN_VERSION);
	curl.setopt(handle, CURLOPT_WRITEFUNCTION, discard);
	curl.setopt(handle, CURLOPT_ERRORBUFFER, detail);
	if (setting.insecure) {
		curl.setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
		curl.setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
	}
	CURLcode code = curl.perform(handle);
	long status = 0;
	curl.getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
	if (!detail[0])
		snprintf(detail, sizeof detail, "%s", curl.strerror(code));
	lowerFirst(detail);
	if (status != 0 && (code == CURLE_OK || code == CURLE_WRITE_ERROR)) {
		result->passed = status >= 200 && status <= 399;
		if (!result->passed)
			probeFailed(result, "status %ld", status);
	} else if (code == CURLE_OPERATION_TIMEDOUT) {
		result->timedOut = true;
	} else if (code == CURLE_COULDNT_CONNECT) {
		connectFailure(handle, result, detail);
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
}
