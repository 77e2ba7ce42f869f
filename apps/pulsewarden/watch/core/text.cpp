// Text built up a piece at a time; see text.h.
#include "text.h"

#include <cstdarg>
#include <cstdio>

Text textIn(char *buffer, size_t size)
{
	if (size)
		buffer[0] = '\0';
	return Text{buffer, size, size > 0};
}

void add(Text *t, const char *format, ...)
{
	if (!t->fits)
		return;
	va_list ap;
	va_start(ap, format);
	int n = vsnprintf(t->at, t->left, format, ap);
	va_end(ap);
	if (n < 0 || static_cast<size_t>(n) >= t->left) {
		t->at[0] = '\0';
		t->fits = false;
		t->left = 0;
		return;
	}
	t->at += n;
	t->left -= static_cast<size_t>(n);
}
