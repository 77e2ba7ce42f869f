// What the platform's library answers, as the core and the console both
// name it: the result codes, and each one's words, written once.
#pragma once

#include <cstddef>

enum LibraryResult : int {
	libraryOk = 0,
	libraryFailed = 1,        // an unspecified error
	libraryNotInGuest = 2,    // not a Corvane virtual machine
	libraryNotEnabled = 3,    // monitoring is switched off
	libraryNotSupported = 4,
};

// The words for a result code 1 to 4; null for any other (0 has none).
const char *resultWords(int result);
// Those words, or "Unknown error (N) occurred" for a code without any.
void describeResult(int result, char *text, size_t size);
// Whether a result means there is nothing to monitor here, now or later.
inline bool nothingToMonitor(int result)
{
	return result == libraryNotInGuest || result == libraryNotSupported;
}
