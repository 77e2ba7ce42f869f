// Text built up in a buffer of a fixed size, a printf-style piece at a
// time: the metrics file, the usage and the help, the configuration.
#pragma once

#include "format_attribute.h"

#include <cstddef>

struct Text {
	char *at;
	size_t left;
	bool fits;       // false once a piece did not fit: nothing more is added
};

// An empty text in `buffer`.
Text textIn(char *buffer, size_t size);
void add(Text *text, const char *format, ...) PRINTF_LIKE(2, 3);

// Text as it is, and numbers, with no format to read: what is written a
// tick (the status) costs no formatted call a piece.
void addString(Text *t, const char *text);
void addInteger(Text *t, long long value);
// `value` with `decimals` digits after the point, as printf's "%.*f"
// writes it.
void addFixed(Text *t, double value, int decimals);

// How many bytes of valid UTF-8 start at `p`: 0 for none.
size_t utf8Length(const unsigned char *p);
// A quoted string as both TOML (a basic string) and JSON read it: quotes,
// backslashes and control characters escaped. False when the text is not
// UTF-8, which neither can hold.
bool addQuoted(Text *t, const char *text);
// The system's words made fit for the middle of a line: "No such file"
// as "no such file"; only a plain word, so that "OpenSSL", "SSL" and
// "IPv6" keep their capitals.
void lowerFirst(char *text);
// Text from outside (a check's line, a path) made one line of UTF-8: each
// control character and each byte that is not UTF-8 becomes '?'.
void makePrintable(char *text);
// Such text quoted, as addQuoted, made printable first (and cut at 1 KiB).
void addPrintable(Text *t, const char *text);
