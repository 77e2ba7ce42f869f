// watch --reload and watch --release: asked of the watcher of a runtime
// directory from another process (requests.cpp).
#pragma once

struct WatchOptions;

// Each returns the exit status: 0 once the watcher has answered that it
// did it, 1 with the reason said.
int reloadAsked(const WatchOptions &line);
int releaseAsked(const WatchOptions &line);
