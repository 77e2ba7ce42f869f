// The library's result codes in words; see library_result.h.
#include "library_result.h"

#include <cstdio>

static const char *const words[] = {
	"Unspecified error occurred",
	"pulsewarden must be run in a Corvane Virtual Machine",
	"Application monitoring is not enabled",
	"Application monitoring is not supported",
};

const char *resultWords(int result)
{
	// Compared as unsigned, so that a negative code never selects words.
	unsigned index = static_cast<unsigned>(result) - 1;
	return index < sizeof words / sizeof words[0] ? words[index] : nullptr;
}

void describeResult(int result, char *text, size_t size)
{
	if (const char *message = resultWords(result))
		snprintf(text, size, "%s", message);
	else
		snprintf(text, size, "Unknown error (%d) occurred", result);
}
