#include "platform.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

TEST(ExitStatusForResult, KeepsCodesExceptFailuresThatWouldReadAsSuccess)
{
	for (int kept : {0, 1, 2, 3, 4, 5, 255, 257, -1, -255, -257, INT_MAX})
		EXPECT_EQ(exitStatusForResult(kept), kept) << kept;
	for (int zeroLowByte : {256, 512, -256, 0x7fffff00, INT_MIN})
		EXPECT_EQ(exitStatusForResult(zeroLowByte), 1) << zeroLowByte;
}

} // namespace
