// The files written whole, by one piece; see publisher.h. Each file the
// publisher writes has a slot and a thread of its own, so that one file's
// disk stalling holds up no other: the text handed to the thread, which it
// alone reads until it says it is done, and the newest text waiting behind
// it, which the loop alone touches. A slot's state hands the one to the
// other.
#include "publisher.h"

#include "files.h"
#include "system.h"
#include "system/events.h"
#include "threads.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct Publisher;

namespace {

enum SlotState { slotIdle, slotHanded, slotDone };

enum : int { removalsKept = 4 };

// What is to be done to a file: those removed first (the metrics file
// where a reload moved it from), then written.
struct Work {
	int removals;
	char removePaths[removalsKept][1100];
	bool write;
	WriteWhole by;
	void *target;
	char path[1100];
	char *text;
	size_t length;
	size_t capacity;
};

struct Slot {
	Publisher *publisher;
	Worker *worker;
	std::atomic<int> state;
	Work work[2];         // the one handed is the thread's while handed; the other waits, the loop's
	int handed;           // which
	bool ok;              // how the write went: set before done
	char why[300];
	bool lastOk = true;   // the thread's: the outcome before, to wake the loop on a change
	bool tellEach;        // each outcome wakes the loop, and only the newest text's is told
	bool here;            // written on the loop's thread: no worker's hand-off
	bool anything;        // something waits
	char path[1100];      // the loop's copy of the path an outcome names
	char said[300];
};

// Grows `w`'s text to hold `length` bytes; false for want of memory.
bool room(Work *w, size_t length)
{
	if (length <= w->capacity)
		return true;
	char *grown = static_cast<char *>(realloc(w->text, length));
	if (!grown)
		return false;
	w->text = grown;
	w->capacity = length;
	return true;
}

} // namespace

struct Publisher {
	Slot slots[fileRecord + 1];  // each file's
	std::atomic<bool> wakeAlways;  // at the end: each outcome wakes the loop
};

static void writeHanded(void *argument)
{
	Slot &s = *static_cast<Slot *>(argument);
	if (s.state.load() != slotHanded)
		return;
	Work &w = s.work[s.handed];
	for (int i = 0; i < w.removals; i++)
		removeFile(w.removePaths[i]);
	s.ok = true;
	if (w.write) {
		snprintf(s.why, sizeof s.why, "not written");
		s.ok = w.by(w.target, w.path, w.text, w.length, s.why, sizeof s.why);
	}
	bool changed = s.ok != s.lastOk;
	s.lastOk = s.ok;
	s.state.store(slotDone);
	if (!s.here && (changed || s.tellEach || s.publisher->wakeAlways.load()))
		wakeWatcher();
}

Publisher *startPublisher(char *why, size_t size)
{
	auto *p = new Publisher{};
	for (Slot &s : p->slots) {
		s.publisher = p;
		s.tellEach = &s == &p->slots[fileRecord];
		if (!(s.worker = startWorker(writeHanded, &s, why, size))) {
			delete p;
			return nullptr;
		}
	}
	return p;
}

// What waits goes to the thread once it is done with what it had.
static void handOn(Slot &s)
{
	if (!s.anything || s.state.load() != slotIdle)
		return;
	s.handed = 1 - s.handed;
	Work &next = s.work[1 - s.handed];
	next.removals = 0;
	next.write = false;
	s.anything = false;
	s.state.store(slotHanded);
	if (s.here)
		writeHanded(&s);
	else
		askWorker(s.worker);
}

void writeHere(Publisher *p, FileKind file)
{
	p->slots[file].here = true;
}

static bool replaceWhole(void * /*target*/, const char *path, const char *text, size_t length, char *why, size_t size)
{
	return replaceFile(path, text, length, why, size);
}

void publish(Publisher *p, FileKind file, const char *path, const char *text, size_t length)
{
	publishBy(p, file, replaceWhole, nullptr, path, text, length);
}

void publishBy(Publisher *p, FileKind file, WriteWhole write, void *target, const char *path, const char *text,
	size_t length)
{
	Slot &s = p->slots[file];
	Work &w = s.work[1 - s.handed];
	if (!room(&w, length))
		return;
	memcpy(w.text, text, length);
	w.length = length;
	w.by = write;
	w.target = target;
	snprintf(w.path, sizeof w.path, "%s", path);
	w.write = s.anything = true;
	handOn(s);
}

void unpublish(Publisher *p, FileKind file, const char *path)
{
	Slot &s = p->slots[file];
	Work &w = s.work[1 - s.handed];
	if (w.write && strcmp(w.path, path) == 0)
		w.write = false;
	bool known = false;
	for (int i = 0; i < w.removals; i++)
		known = known || strcmp(w.removePaths[i], path) == 0;
	// More paths than it keeps, before the thread took any: the first
	// stays, to be removed.
	if (!known && w.removals < removalsKept)
		snprintf(w.removePaths[w.removals++], sizeof w.removePaths[0], "%s", path);
	s.anything = true;
	handOn(s);
}

bool publishedOf(Publisher *p, FileKind file, Event *event)
{
	Slot &s = p->slots[file];
	if (s.state.load() != slotDone)
		return false;
	const Work &w = s.work[s.handed];
	bool wrote = w.write && !(s.tellEach && s.anything);
	static_assert(sizeof s.path == sizeof w.path && sizeof s.said == sizeof s.why, "copied whole");
	memcpy(s.path, w.path, sizeof s.path);
	memcpy(s.said, s.why, sizeof s.said);
	bool ok = s.ok;
	s.state.store(slotIdle);
	handOn(s);
	if (!wrote)
		return false;
	*event = Event{};
	event->kind = eventWritten;
	event->answer = file;
	event->path = s.path;
	event->why = ok ? nullptr : s.said;
	return true;
}

bool published(Publisher *p, Event *event)
{
	for (int file = 0; file <= fileRecord; file++)
		if (publishedOf(p, static_cast<FileKind>(file), event))
			return true;
	return false;
}

bool finishPublishing(Publisher *p, int64_t deadlineNs)
{
	p->wakeAlways.store(true);
	for (;;) {
		Event ignored;
		while (published(p, &ignored)) {
		}
		bool busy = false;
		for (Slot &s : p->slots)
			busy = busy || s.anything || s.state.load() != slotIdle;
		if (!busy)
			return true;
		if (bootClockNs() >= deadlineNs)
			break;
		waitForEvents(deadlineNs, nullptr, nullptr);
	}
	// A write under way that does not end: what waits behind it to be
	// removed is removed here, so that a stop leaves no file behind that
	// it was to take away.
	for (Slot &s : p->slots)
		if (s.anything)
			for (int i = 0; i < s.work[1 - s.handed].removals; i++)
				removeFile(s.work[1 - s.handed].removePaths[i]);
	return false;
}
