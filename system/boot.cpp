// Which boot this is, as the watcher and the simulated platform both tell
// it; see system.h.
#include "system.h"

#include <cstdio>
#include <cstdlib>

bool currentBootId(char *id, size_t size, char *why, size_t whySize)
{
	const char *given = getenv("PULSEWARDEN_BOOT_ID");
	if (given && given[0]) {
		int n = snprintf(id, size, "%s", given);
		if (n > 0 && static_cast<size_t>(n) < size)
			return true;
		snprintf(why, whySize, "cannot tell the boot: PULSEWARDEN_BOOT_ID is too long");
		return false;
	}
	return kernelBootId(id, size, why, whySize);
}
