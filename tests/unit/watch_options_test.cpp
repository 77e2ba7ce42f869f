#include "watch_options.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DurationProblem, WholeNumbersWithTheirUnitUpToThirtyDaysAndWhyNot)
{
	struct {
		const char *text;
		int64_t ns;          // when accepted
		const char *problem; // when not
	} cases[] = {
		{"10", 10 * nsPerS, nullptr}, {"10s", 10 * nsPerS, nullptr}, {"500ms", 500 * nsPerMs, nullptr},
		{"2m", 120 * nsPerS, nullptr}, {"2min", 120 * nsPerS, nullptr},
		// As the tool prints them.
		{"2 min", 120 * nsPerS, nullptr}, {"10 s", 10 * nsPerS, nullptr}, {"500 ms", 500 * nsPerMs, nullptr},
		{"43200m", maxDurationNs, nullptr}, {"2592000", maxDurationNs, nullptr},
		{"2592000000ms", maxDurationNs, nullptr},
		{"43201m", 0, "is more than 30 days"}, {"2592001", 0, "is more than 30 days"},
		{"99999999999999999999m", 0, "is more than 30 days"},
		{"0", 0, "must be more than 0"}, {"0ms", 0, "must be more than 0"},
		{"007", 0, "has a leading zero (a whole number with ms, s or min)"},
		{"1.5s", 0, "is not a duration (a whole number with ms, s or min)"},
		{"-1", 0, "is not a duration (a whole number with ms, s or min)"},
		{"+1", 0, "is not a duration (a whole number with ms, s or min)"},
		{" 1", 0, "is not a duration (a whole number with ms, s or min)"},
		{"1  s", 0, "is not a duration (a whole number with ms, s or min)"},
		{"1 ", 0, "is not a duration (a whole number with ms, s or min)"},
		{"1h", 0, "is not a duration (a whole number with ms, s or min)"},
		{"1S", 0, "is not a duration (a whole number with ms, s or min)"},
		{"s", 0, "is not a duration (a whole number with ms, s or min)"},
		{"", 0, "is not a duration (a whole number with ms, s or min)"},
	};
	for (const auto &c : cases) {
		int64_t ns = 0;
		const char *problem = durationProblem(c.text, &ns);
		EXPECT_EQ(std::string(problem ? problem : "accepted"), std::string(c.problem ? c.problem : "accepted"))
			<< c.text;
		if (!c.problem) {
			EXPECT_EQ(ns, c.ns) << c.text;
		}
	}
}

} // namespace
