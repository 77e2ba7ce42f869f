// Text built up a piece at a time; see text.h.
#include "text.h"

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

Text textIn(char *buffer, size_t size)
{
	if (size)
		buffer[0] = '\0';
	return Text{buffer, size, size > 0};
}

static void doesNotFit(Text *t)
{
	t->at[0] = '\0';
	t->fits = false;
	t->left = 0;
}

void add(Text *t, const char *format, ...)
{
	if (!t->fits)
		return;
	va_list ap;
	va_start(ap, format);
	int n = vsnprintf(t->at, t->left, format, ap);
	va_end(ap);
	if (n < 0 || static_cast<size_t>(n) >= t->left)
		return doesNotFit(t);
	t->at += n;
	t->left -= static_cast<size_t>(n);
}

static unsigned long long scaleOf(int decimals)
{
	unsigned long long scale = 1;
	for (int i = 0; i < decimals; i++)
		scale *= 10;
	return scale;
}

// Bytes as they are, in one copy: what is built a tick must not cost a
// formatted call a character.
static void addBytes(Text *t, const char *bytes, size_t n)
{
	if (!t->fits)
		return;
	if (n >= t->left)
		return doesNotFit(t);
	memcpy(t->at, bytes, n);
	t->at += n;
	t->at[0] = '\0';
	t->left -= n;
}

void addString(Text *t, const char *text)
{
	addBytes(t, text, strlen(text));
}

// Digits written backwards from `end`: where they start.
static char *digitsBefore(char *end, unsigned long long value, int least)
{
	char *p = end;
	for (int i = 0; i < least || value; i++, value /= 10)
		*--p = static_cast<char>('0' + value % 10);
	return p;
}

static void addSigned(Text *t, bool negative, unsigned long long magnitude, int decimals)
{
	char text[48];
	char *end = text + sizeof text;
	char *p = digitsBefore(end, magnitude % scaleOf(decimals), decimals);
	if (decimals)
		*--p = '.';
	p = digitsBefore(p, magnitude / scaleOf(decimals), 1);
	if (negative)
		*--p = '-';
	addBytes(t, p, static_cast<size_t>(end - p));
}

void addInteger(Text *t, long long value)
{
	unsigned long long magnitude = value < 0 ? 0 - static_cast<unsigned long long>(value)
		: static_cast<unsigned long long>(value);
	addSigned(t, value < 0, magnitude, 0);
}

void addFixed(Text *t, double value, int decimals)
{
	// Within what an integer holds, and not a half to within the scaling's
	// rounding error: the nearest, as printf rounds it. Else (a half, whose
	// exact value decides; beyond an integer; not a number): printf itself.
	double scaled = decimals >= 0 && decimals <= 9 ? value * static_cast<double>(scaleOf(decimals)) : 0;
	double fraction = scaled - std::floor(scaled);
	if (decimals < 0 || decimals > 9 || !(scaled > -9e18 && scaled < 9e18)
		|| std::fabs(fraction - 0.5) <= std::fabs(scaled) * 1e-15 + 1e-12) {
		add(t, "%.*f", decimals, value);
		return;
	}
	long long n = llround(scaled);
	// printf keeps the sign of what rounds to zero: "-0.000".
	bool negative = n < 0 || (n == 0 && std::signbit(value));
	unsigned long long magnitude = n < 0 ? 0 - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
	addSigned(t, negative, magnitude, decimals);
}

// How many bytes of valid UTF-8 start at `p`: 0 for none.
size_t utf8Length(const unsigned char *p)
{
	auto follows = [](unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; };
	if (p[0] < 0x80)
		return 1;
	if (follows(p[0], 0xc2, 0xdf))
		return follows(p[1], 0x80, 0xbf) ? 2 : 0;
	if (follows(p[0], 0xe0, 0xef)) {
		unsigned char low = p[0] == 0xe0 ? 0xa0 : 0x80;
		unsigned char high = p[0] == 0xed ? 0x9f : 0xbf;
		return follows(p[1], low, high) && follows(p[2], 0x80, 0xbf) ? 3 : 0;
	}
	if (follows(p[0], 0xf0, 0xf4)) {
		unsigned char low = p[0] == 0xf0 ? 0x90 : 0x80;
		unsigned char high = p[0] == 0xf4 ? 0x8f : 0xbf;
		return follows(p[1], low, high) && follows(p[2], 0x80, 0xbf) && follows(p[3], 0x80, 0xbf) ? 4 : 0;
	}
	return 0;
}

bool addQuoted(Text *t, const char *text)
{
	addBytes(t, "\"", 1);
	const char *plain = text;  // the run of bytes copied as they are
	for (const char *p = text; *p;) {
		size_t length = utf8Length(reinterpret_cast<const unsigned char *>(p));
		if (!length)
			return false;
		unsigned char c = static_cast<unsigned char>(*p);
		if (c == '"' || c == '\\' || c < 0x20 || c == 0x7f) {
			addBytes(t, plain, static_cast<size_t>(p - plain));
			if (c == '"' || c == '\\')
				add(t, "\\%c", c);
			else
				add(t, "\\u%04X", c);
			plain = p + 1;
		}
		p += length;
	}
	addBytes(t, plain, strlen(plain));
	addBytes(t, "\"", 1);
	return true;
}

void makePrintable(char *text)
{
	for (unsigned char *p = reinterpret_cast<unsigned char *>(text); *p;) {
		size_t length = utf8Length(p);
		if (!length || *p < ' ' || *p == 0x7f) {
			*p++ = '?';
			continue;
		}
		p += length;
	}
}

void addPrintable(Text *t, const char *text)
{
	char fit[1024];
	size_t length = strnlen(text, sizeof fit - 1);
	memcpy(fit, text, length);
	fit[length] = '\0';
	makePrintable(fit);
	addQuoted(t, fit);
}

void lowerFirst(char *text)
{
	if (!isupper(static_cast<unsigned char>(text[0])))
		return;
	for (const char *p = text + 1; *p && isalpha(static_cast<unsigned char>(*p)); p++)
		if (isupper(static_cast<unsigned char>(*p)))
			return;
	text[0] = static_cast<char>(tolower(static_cast<unsigned char>(text[0])));
}
