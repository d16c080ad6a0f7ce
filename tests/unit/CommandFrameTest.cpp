#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "device/CommandFrame.h"

namespace {

using Bytes = std::array<std::uint8_t, kCommandFrameSize>;

}  // namespace

TEST(CommandFrame, QueryIsTheFixedFrame)
{
    EXPECT_EQ(CommandFrame::Query().Bytes(), (Bytes{0xF6, 0x00, 0xE8, 0x00, 0x00, 0x00, 0xE8, 0xF6}));
}

TEST(CommandFrame, StartPacksTheRangeAsTwelveBitHalves)
{
    EXPECT_EQ(CommandFrame::Start(16, 100).Bytes(),
              (Bytes{0xF6, 0x00, 0xFF, 0x01, 0x00, 0x64, 0x9A, 0xF6}));
    // endBlock 512 reaches into p1's low nibble; startBlock's low nibble fills its high one.
    const Bytes last = CommandFrame::Start(0x1A3, 512).Bytes();
    EXPECT_EQ(last[3], 0x1A);
    EXPECT_EQ(last[4], 0x32);
    EXPECT_EQ(last[5], 0x00);
    EXPECT_EQ(last[6], 0xFF ^ 0x1A ^ 0x32 ^ 0x00);
    EXPECT_EQ(last[7], kFrameMark);
}

TEST(CommandFrame, CheckByteCoversCodeAndParametersOnly)
{
    const Bytes frame = CommandFrame(0x12, 0x34, 0x56, 0x78).Bytes();
    EXPECT_EQ(frame[6], 0x12 ^ 0x34 ^ 0x56 ^ 0x78);
    EXPECT_EQ(XorCheck(frame.data() + 2, 5), 0);  // code..check XOR to zero
}

TEST(CommandFrame, XorCheckOfBytes)
{
    const std::uint8_t none[1] = {0};
    EXPECT_EQ(XorCheck(none, 0), 0);
    const std::uint8_t bytes[] = {0x01, 0x02, 0x04, 0x80, 0xFF};
    EXPECT_EQ(XorCheck(bytes, sizeof bytes), 0x01 ^ 0x02 ^ 0x04 ^ 0x80 ^ 0xFF);
    EXPECT_EQ(XorCheck(bytes, 2), 0x03);
}
