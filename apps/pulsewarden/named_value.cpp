#include "named_value.h"

#include <cstring>

int32_t lookupNamedValue(const NamedValue *table, const char *word)
{
	const NamedValue *row = table;
	while (row->name && strcmp(row->name, word) != 0)
		row++;
	return row->value;
}
