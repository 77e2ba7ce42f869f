// Linux: watch lives in a module of its own, loaded only when it is asked
// for, so that the one-shot commands pay nothing for what only it needs
// (its system calls, its relocations).
#include "watch_start.h"

#include "console.h"
#include "watch/watch.h"

#include <dlfcn.h>

int startWatch(const char *invocationName, bool silent, int argc, char **argv)
{
	// Installed beside the library, or in the build tree: the first found.
	static const char *const places[] = {WATCH_MODULE_INSTALLED, WATCH_MODULE_BUILT};
	void *module = nullptr;
	for (const char *place : places)
		if ((module = dlopen(place, RTLD_NOW | RTLD_LOCAL)))
			break;
	void *entry = module ? dlsym(module, watchEntryName) : nullptr;
	if (!entry) {
		printTo(stderr, "watch: cannot load its module (reinstall pulsewarden): %s\n", dlerror());
		return 1;
	}
	return reinterpret_cast<WatchEntry>(entry)(invocationName, silent, argc, argv);
}
