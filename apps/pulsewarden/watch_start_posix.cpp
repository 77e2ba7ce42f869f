// Linux: watch lives in a module of its own, loaded only when it is asked
// for, so that the one-shot commands pay nothing for what only it needs
// (its system calls, its relocations).
#include "watch_start.h"

#include "console.h"
#include "watch/watch.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

// The module's entry `name`, or null, said, when it cannot be loaded.
static void *moduleEntry(const char *word, const char *name)
{
	// Installed beside the library, or in the build tree: the first found,
	// relative to the tool itself (not through dlopen's $ORIGIN, which is
	// that of whoever calls dlopen: a sanitizer's runtime, say).
	char self[4096];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	self[n > 0 ? n : 0] = '\0';
	char *slash = strrchr(self, '/');
	if (!slash) {
		// Never a path relative to wherever the user stands.
		printTo(stderr, "%s: cannot load its module: cannot tell where the tool is\n", word);
		return nullptr;
	}
	slash[1] = '\0';
	static const char *const places[] = {WATCH_MODULE_INSTALLED, WATCH_MODULE_BUILT};
	void *module = nullptr;
	for (const char *place : places) {
		char path[sizeof self + 128];
		snprintf(path, sizeof path, "%s%s", self, place);
		if ((module = dlopen(path, RTLD_NOW | RTLD_LOCAL)))
			break;
	}
	void *entry = module ? dlsym(module, name) : nullptr;
	if (!entry)
		printTo(stderr, "%s: cannot load its module (reinstall pulsewarden): %s\n", word, dlerror());
	return entry;
}

int startWatch(const char *invocationName, bool silent, int argc, char **argv)
{
	void *entry = moduleEntry("watch", watchEntryName);
	return entry ? reinterpret_cast<WatchEntry>(entry)(invocationName, silent, argc, argv) : 1;
}

int startStatus(const char *invocationName, int argc, char **argv)
{
	void *entry = moduleEntry("status", statusEntryName);
	// Without its module there is no answer: as for no watcher.
	return entry ? reinterpret_cast<StatusEntry>(entry)(invocationName, argc, argv) : 3;
}
