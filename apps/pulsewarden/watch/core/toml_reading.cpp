// Reading watch's own files back; see toml_reading.h.
#include "toml_reading.h"

#include <cstdio>

TomlReading within(const TomlReading &outer, const toml::node &node)
{
	return TomlReading{node.as_table(), node.is_table(), outer.why, outer.size};
}

void missing(TomlReading *r, const char *key)
{
	if (r->fine)
		snprintf(r->why, r->size, "no %s in it", key);
	r->fine = false;
}

double number(TomlReading *r, const char *key)
{
	const toml::node *node = r->table ? r->table->get(key) : nullptr;
	if (node && node->is_integer())
		return static_cast<double>(node->as_integer()->get());
	if (node && node->is_floating_point())
		return node->as_floating_point()->get();
	missing(r, key);
	return 0;
}

void string(TomlReading *r, const char *key, char *value, size_t size)
{
	const toml::node *node = r->table ? r->table->get(key) : nullptr;
	if (node && node->is_string()) {
		const std::string &text = node->as_string()->get();
		snprintf(value, size, "%.*s", static_cast<int>(text.size()), text.data());
		return;
	}
	value[0] = '\0';
	missing(r, key);
}

bool flag(TomlReading *r, const char *key)
{
	const toml::node *node = r->table ? r->table->get(key) : nullptr;
	if (node && node->is_boolean())
		return node->as_boolean()->get();
	missing(r, key);
	return false;
}

bool startReading(const char *text, size_t length, const char *what, toml::parse_result *parsed, TomlReading *r,
	char *why, size_t size)
{
	*parsed = toml::parse(std::string_view(text, length));
	if (!*parsed) {
		const toml::parse_error &error = parsed->error();
		snprintf(why, size, "line %u: %.*s", error.source().begin.line,
			static_cast<int>(error.description().size()), error.description().data());
		return false;
	}
	*r = TomlReading{&parsed->table(), true, why, size};
	if (number(r, "version") == 1)
		return true;
	if (r->fine)
		snprintf(why, size, "%s of another version than this tool's (1)", what);
	return false;
}
