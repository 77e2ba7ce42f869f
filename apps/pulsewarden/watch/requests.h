// watch --reload and watch --release: asked of the watcher of a runtime
// directory from another process (requests.cpp).
#pragma once

#include <cstddef>

struct WatchOptions;

// Each returns the exit status: 0 once the watcher has answered that it
// did it, 1 with the reason said.
int reloadAsked(const WatchOptions &line);
int releaseAsked(const WatchOptions &line);

// Asks the watcher of the runtime directory `named` (null: the default one;
// where none runs there and the command line did not name it, `given`
// false, the machine's watcher wherever it runs) to read its
// configuration again, by `ask` (a signal, the service control manager),
// and waits for its answer: 0 once it has applied it, 1 with the reason
// said when it has refused it or cannot be asked.
int reloadWatcher(const char *named, bool given, bool (*ask)(void *context, long pid, char *why, size_t size),
	void *context);

// A release the watcher took but could not keep on disk is answered by
// replacing the request with this mark and why.
inline constexpr char releaseFailedMark[] = "failed: ";
// That answer's why, left at `path`, in memory the caller frees; null
// when the file holds none (a request, or nothing).
char *releaseFailure(const char *path);
