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
	// Found relative to the tool itself (not through dlopen's $ORIGIN,
	// which is that of whoever calls dlopen: a sanitizer's runtime, say).
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
	// Installed beside the library, or in the build tree: the first place
	// where it is, and that place's error, so that an installed module that
	// cannot be loaded (a library it needs is missing or too old) is not
	// hidden behind the build tree's absence. Where neither is, the
	// installed place is the one named.
	char installed[sizeof self + 128];
	char built[sizeof self + 128];
	snprintf(installed, sizeof installed, "%s%s", self, WATCH_MODULE_INSTALLED);
	snprintf(built, sizeof built, "%s%s", self, WATCH_MODULE_BUILT);
	const char *path = access(installed, F_OK) != 0 && access(built, F_OK) == 0 ? built : installed;
	void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
	void *entry = module ? dlsym(module, name) : nullptr;
	if (!entry)
		printTo(stderr, "%s: cannot load its module: %s\n", word, dlerror());
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
