// The files watch writes for itself (its status, its reset record), read
// back key by key from a toml++ table: the first key missing or of
// another type is the reason the file is not one, and nothing is taken
// from it.
#pragma once

#include "toml.h"

#include <cstddef>

struct TomlReading {
	const toml::table *table;
	bool fine;
	char *why;
	size_t size;
};

// The reading of a table within, sharing the reason.
TomlReading within(const TomlReading &outer, const toml::node &node);
void missing(TomlReading *r, const char *key);
double number(TomlReading *r, const char *key);
void string(TomlReading *r, const char *key, char *value, size_t size);
bool flag(TomlReading *r, const char *key);
// Parses `text` as version 1 of one of watch's files (`what`: "a
// status"), its table ready to be read key by key in `r`; false, with
// why, when it is not TOML or not that version.
bool startReading(const char *text, size_t length, const char *what, toml::parse_result *parsed, TomlReading *r,
	char *why, size_t size);
