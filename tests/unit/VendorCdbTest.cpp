// The vendor command descriptor block: opcode, big-endian length in bytes 2-5, byte 7 = 2.
// The same bytes as the device receives them through the real transport are checked in the
// emulated tier; this pins the layout for every length the protocol uses.
#include <gtest/gtest.h>

#include <array>

#include "device/VendorCommands.h"

using Cdb = std::array<std::uint8_t, kCdbLength>;

TEST(VendorCdb, LengthIsBigEndianInBytesTwoToFive) {
    EXPECT_EQ(BuildVendorCdb(kOpVendorRead, 27),
              (Cdb{0x85, 0, 0x00, 0x00, 0x00, 0x1B, 0, 2, 0, 0}));
    EXPECT_EQ(BuildVendorCdb(kOpVendorWrite, 321),
              (Cdb{0x86, 0, 0x00, 0x00, 0x01, 0x41, 0, 2, 0, 0}));
    EXPECT_EQ(BuildVendorCdb(kOpVendorIdentify, 2), (Cdb{0x87, 0, 0, 0, 0, 2, 0, 2, 0, 0}));
    EXPECT_EQ(BuildVendorCdb(kOpVendorWrite, 0x01020304), (Cdb{0x86, 0, 1, 2, 3, 4, 0, 2, 0, 0}));
}

TEST(VendorCdb, ByteSevenIsTwoAndTheRestZeroWhateverTheLength) {
    for (std::uint8_t op : {kOpVendorRead, kOpVendorWrite, kOpVendorIdentify}) {
        for (std::uint32_t length : {0u, 2u, 8u, 27u, 65u, 321u, 1024u, 0xFFFFFFFFu}) {
            const Cdb cdb = BuildVendorCdb(op, length);
            SCOPED_TRACE(testing::Message() << "op " << int{op} << " length " << length);
            EXPECT_EQ(cdb[0], op);
            EXPECT_EQ(cdb[7], 2);
            EXPECT_EQ(cdb[1] | cdb[6] | cdb[8] | cdb[9], 0);
            EXPECT_EQ(std::uint32_t{cdb[2]} << 24 | std::uint32_t{cdb[3]} << 16 |
                          std::uint32_t{cdb[4]} << 8 | cdb[5],
                      length);
        }
    }
}
