#include "sim_diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void reportFailure(const char *operation, const char *cause)
{
	const char *debug = getenv("CORVANE_SIM_DEBUG");
	if (!debug || strcmp(debug, "1") != 0 || !*cause)
		return;
	// The caller's own output first, so that a dialogue reads in order.
	fflush(stdout);
	fprintf(stderr, "corvane-sim: %s: %s\n", operation, cause);
}
