// Static name/value tables that end in a nameless row holding the default.
#pragma once

#include <cstdint>

struct NamedValue {
	const char *name;
	int32_t value;
};

// The value of the first row named exactly `word`, else the default row's.
int32_t lookupNamedValue(const NamedValue *table, const char *word);
