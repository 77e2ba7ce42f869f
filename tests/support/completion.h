// The tool's bash completion, as the tests read it: its lists, and the
// file itself to run under bash.
#pragma once

#include <set>
#include <string>

extern const char *const bashCompletionFile;

// The words of the completion's list `name` (local name='...'); none, with
// a failure, when it has no such list.
std::set<std::string> completionList(const char *name);
