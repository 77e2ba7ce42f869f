#include "watch_options.h"

#include <gtest/gtest.h>

namespace {

TEST(ParseDuration, WholeNumbersWithTheirUnitUpToThirtyDays)
{
	struct {
		const char *text;
		int64_t ns;  // 0: refused
	} cases[] = {
		{"10", 10 * nsPerS}, {"10s", 10 * nsPerS}, {"500ms", 500 * nsPerMs}, {"2m", 120 * nsPerS},
		{"43200m", maxDurationNs}, {"2592000", maxDurationNs}, {"2592000000ms", maxDurationNs},
		{"43201m", 0}, {"2592001s", 0}, {"99999999999999999999m", 0},
		{"0", 0}, {"0ms", 0}, {"010s", 0}, {"1.5s", 0}, {"-1", 0}, {"+1", 0}, {" 1", 0}, {"1 s", 0},
		{"1h", 0}, {"1S", 0}, {"s", 0}, {"", 0},
	};
	for (const auto &c : cases) {
		int64_t ns = 0;
		EXPECT_EQ(parseDuration(c.text, &ns), c.ns != 0) << c.text;
		if (c.ns != 0) {
			EXPECT_EQ(ns, c.ns) << c.text;
		}
	}
}

} // namespace
