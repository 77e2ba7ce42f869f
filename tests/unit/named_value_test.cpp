#include "named_value.h"

#include <gtest/gtest.h>

namespace {

const NamedValue colours[] = {
	{"gray", 0},
	{"green", 1},
	{"green", 9},   // shadowed: the first match wins
	{"", 5},
	{nullptr, 3},
};

TEST(LookupNamedValue, FindsRowsByExactNameElseTheDefault)
{
	EXPECT_EQ(lookupNamedValue(colours, "gray"), 0);
	EXPECT_EQ(lookupNamedValue(colours, "green"), 1);
	EXPECT_EQ(lookupNamedValue(colours, ""), 5);
	for (const char *other : {"Green", "gree", "greens", "green ", " green", "red"})
		EXPECT_EQ(lookupNamedValue(colours, other), 3) << other;
}

TEST(LookupNamedValue, TableOfOnlyTheDefaultRow)
{
	const NamedValue none[] = {{nullptr, 7}};
	EXPECT_EQ(lookupNamedValue(none, "anything"), 7);
	EXPECT_EQ(lookupNamedValue(none, ""), 7);
}

} // namespace
