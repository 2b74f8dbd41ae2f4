#include <gtest/gtest.h>
#include "link/protocol.h"
TEST(Protocol, ClosingByteSwapsDigits) { EXPECT_EQ(tkb::closingByte(0xB2), 0x2B); }
