// Files as every system lists them: a directory's files in the order of
// their names, whatever order the system gives them in; see files.h.
#include "files.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Names {
	char **names;
	size_t count;
	size_t room;
};

bool keepName(const char *name, void *context)
{
	auto *n = static_cast<Names *>(context);
	if (n->count == n->room) {
		size_t room = n->room ? 2 * n->room : 16;
		auto **more = static_cast<char **>(realloc(n->names, room * sizeof *n->names));
		if (!more)
			return false;
		n->names = more;
		n->room = room;
	}
	n->names[n->count] = strdup(name);
	if (!n->names[n->count])
		return false;
	n->count++;
	return true;
}

int byName(const void *a, const void *b)
{
	return strcmp(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

}  // namespace

bool eachFileEndingIn(const char *dir, const char *suffix, bool (*each)(const char *path, void *context),
	void *context, char *why, size_t size)
{
	Names n = {};
	bool listed = namesEndingIn(dir, suffix, keepName, &n, why, size);
	if (n.count)
		qsort(n.names, n.count, sizeof *n.names, byName);
	bool going = listed;
	for (size_t i = 0; i < n.count; i++) {
		char path[4096];
		int length = snprintf(path, sizeof path, "%s%c%s", dir, pathSeparator, n.names[i]);
		if (going && length > 0 && static_cast<size_t>(length) < sizeof path)
			going = each(path, context);
		free(n.names[i]);
	}
	free(n.names);
	return listed;
}
