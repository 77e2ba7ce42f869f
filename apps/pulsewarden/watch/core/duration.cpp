// Durations: read from an option or a file, said in a line.
#include "duration.h"

#include <cstdio>
#include <cstring>

static const struct {
	const char *unit;
	int64_t ns;
} units[] = {
	{"ms", nsPerMs},
	{"s", nsPerS},
	{"", nsPerS},
	{"min", 60 * nsPerS},
	{"m", 60 * nsPerS},
	{"h", 3600 * nsPerS},
	{"d", 86400 * nsPerS},
	{nullptr, 0},
};

const char *durationProblem(const char *text, int64_t *ns)
{
	size_t digits = strspn(text, "0123456789");
	const char *unit = text + digits;
	if (*unit == ' ' && unit[1])
		unit++;
	size_t i = 0;
	while (units[i].unit && strcmp(units[i].unit, unit) != 0)
		i++;
	int64_t scale = units[i].ns;
	if (scale == 0 || digits == 0)
		return "is not a duration (a whole number with ms, s, min, h or d)";
	if (text[0] == '0' && digits > 1)
		return "has a leading zero (a whole number with ms, s, min, h or d)";
	int64_t value = 0;
	for (size_t k = 0; k < digits; k++) {
		value = value * 10 + (text[k] - '0');
		if (value > maxDurationNs / scale)
			return "is more than 30 days";
	}
	if (value == 0)
		return "must be more than 0";
	*ns = value * scale;
	return nullptr;
}

void formatDuration(int64_t ns, char *text, size_t size)
{
	// The largest unit it is a whole number of.
	static const struct {
		int64_t ns;
		const char *unit;
	} said[] = {{86400 * nsPerS, "d"}, {3600 * nsPerS, "h"}, {60 * nsPerS, "min"}, {nsPerS, "s"}, {nsPerMs, "ms"}};
	for (const auto &u : said) {
		if (ns % u.ns == 0 || u.ns == nsPerMs) {
			snprintf(text, size, "%lld %s", static_cast<long long>(ns / u.ns), u.unit);
			return;
		}
	}
}
