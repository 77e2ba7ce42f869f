// The files watch writes whole (the metrics file, the status file, the
// reset record), all written by this one piece, each on a thread of its
// own, so that a disk that stalls holds up no heartbeat, nor another
// file; of a file still being written only the newest text waits. Each
// write's outcome is handed back for the core to say once (eventWritten).
// The metrics and the status are replaced whole, so that a reader sees
// the old text or the new; the reset record is written as its keeper
// writes it, and its outcome is told each time the newest text handed is
// written (or not), for the core waits on it.
#pragma once

#include "core/watch_core.h"

#include <cstddef>

struct Publisher;

// Null, with why, when its thread cannot be started.
Publisher *startPublisher(char *why, size_t size);

// How a text is written whole at `path` (by its thread): into `target`.
using WriteWhole = bool (*)(void *target, const char *path, const char *text, size_t length, char *why, size_t size);

// `text` to be written whole at `path`, off the caller's thread; copied.
void publish(Publisher *p, FileKind file, const char *path, const char *text, size_t length);
// The same, written by `write`.
void publishBy(Publisher *p, FileKind file, WriteWhole write, void *target, const char *path, const char *text,
	size_t length);
// The file at `path` removed, after whatever of it was handed before; a
// text waiting for the same path is dropped.
void unpublish(Publisher *p, FileKind file, const char *path);

// The file's writes made on the caller's thread from now on, where its
// disk cannot stall (the runtime directory in memory): a write then wakes
// no thread of its own, and its outcome is there at once.
void writeHere(Publisher *p, FileKind file);

// The outcome of a write handed before, one at a time: false once none
// is left. The loop is woken when one fails or is written again after
// failing, and at each of the reset record's; others wait for its next
// wake.
bool published(Publisher *p, Event *event);
// The same, of one file's writes.
bool publishedOf(Publisher *p, FileKind file, Event *event);
// At the end: what was handed is written, waited for until `deadlineNs`
// on the boot clock. False when a write has not ended by then: what waits
// behind it to be removed is removed on the caller's thread.
bool finishPublishing(Publisher *p, int64_t deadlineNs);
