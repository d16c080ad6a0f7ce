// The USB door's Bulk-Only Transport framing: what usb-storage sends and what it must get back.
#include <gtest/gtest.h>

#include <vector>

#include "vdev/usb/BulkOnly.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A CBW as usb-storage builds it: signature "USBC", tag, length, flags, LUN, CDB length, CDB.
Bytes Cbw(std::uint32_t tag, std::uint32_t length, bool in, const Bytes& cdb) {
    Bytes cbw{0x55, 0x53, 0x42, 0x43};
    for (const std::uint32_t v : {tag, length})
        for (int i = 0; i < 4; ++i) cbw.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    cbw.push_back(in ? 0x80 : 0x00);
    cbw.push_back(0);
    cbw.push_back(static_cast<std::uint8_t>(cdb.size()));
    cbw.insert(cbw.end(), cdb.begin(), cdb.end());
    cbw.resize(kCbwSize, 0);
    return cbw;
}

// Identify as usb-storage pads it for an interface of subclass 02.
const Bytes kIdentify12{0x87, 0, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0};

}  // namespace

TEST(BulkOnly, ReadsTheCommandBlockUsbStorageSendsAndRefusesOneThatIsNotMeaningful) {
    const Bytes cbw = Cbw(0x12345678, 2, true, kIdentify12);
    const auto block = ParseCommandBlock(cbw.data(), cbw.size());
    ASSERT_TRUE(block);
    EXPECT_EQ(block->tag, 0x12345678u);
    EXPECT_EQ(block->dataLength, 2u);
    EXPECT_TRUE(block->toHost);
    EXPECT_EQ(block->cdbLength, 12);
    EXPECT_EQ(Bytes(block->cdb.begin(), block->cdb.begin() + 12), kIdentify12);

    const auto refused = [](Bytes bytes) { return !ParseCommandBlock(bytes.data(), bytes.size()); };
    Bytes shortOne = cbw;
    shortOne.pop_back();
    EXPECT_TRUE(refused(shortOne));
    Bytes badSignature = cbw;
    badSignature[3] = 0x44;
    EXPECT_TRUE(refused(badSignature));
    Bytes lun1 = cbw;
    lun1[13] = 1;
    EXPECT_TRUE(refused(lun1));
    Bytes reservedFlag = cbw;
    reservedFlag[12] = 0x81;
    EXPECT_TRUE(refused(reservedFlag));
    EXPECT_TRUE(refused(Cbw(1, 0, false, {})));
    Bytes seventeen = cbw;
    seventeen[14] = 17;
    EXPECT_TRUE(refused(seventeen));
}

TEST(BulkOnly, StatusWrapperCarriesTagResidueAndStatus) {
    const auto csw = BuildStatus(0x0A0B0C0D, 321, CswStatus::PhaseError);
    EXPECT_EQ(Bytes(csw.begin(), csw.end()),
              (Bytes{0x55, 0x53, 0x42, 0x53, 0x0D, 0x0C, 0x0B, 0x0A, 0x41, 0x01, 0, 0, 2}));
}

TEST(BulkOnly, ShortDataEndsWithAShortPacketOrAStallWhenNoShortPacketWouldEndIt) {
    // Identify's 2 bytes where the host allowed 8: a short packet ends it.
    DataInPlan plan = PlanDataIn(8, 2, false, 64);
    EXPECT_EQ(plan.send, 2u);
    EXPECT_FALSE(plan.stallIn);
    EXPECT_EQ(plan.residue, 6u);
    // A whole packet where two were allowed: the host would wait for more.
    plan = PlanDataIn(128, 64, false, 64);
    EXPECT_EQ(plan.send, 64u);
    EXPECT_TRUE(plan.stallIn);
    // Everything asked for: nothing to stall.
    plan = PlanDataIn(27, 27, false, 64);
    EXPECT_FALSE(plan.stallIn);
    EXPECT_EQ(plan.residue, 0u);
    // A failed command sends nothing; the pipe is stalled so the host goes on to the status.
    plan = PlanDataIn(8, 8, true, 64);
    EXPECT_EQ(plan.send, 0u);
    EXPECT_TRUE(plan.stallIn);
    EXPECT_EQ(plan.residue, 8u);
}

TEST(BulkOnly, TheLastFailuresSenseAnswersTheRequestSenseRightAfterItOnce) {
    SenseKeeper keeper;
    std::array<std::uint8_t, 18> sense{0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24};
    const Bytes requestSense = Cbw(2, 18, true, {0x03, 0, 0, 0, 18, 0});
    const auto rs = ParseCommandBlock(requestSense.data(), requestSense.size());
    const Bytes identify = Cbw(3, 2, true, kIdentify12);
    const auto other = ParseCommandBlock(identify.data(), identify.size());
    ASSERT_TRUE(rs && other);
    std::uint8_t answer[18] = {};
    std::uint32_t written = 0;

    keeper.Remember(sense.data());
    ASSERT_TRUE(keeper.Answer(*rs, answer, 18, &written));
    EXPECT_EQ(written, 18u);
    EXPECT_EQ(answer[2], 0x05);
    EXPECT_EQ(answer[12], 0x24);
    EXPECT_FALSE(keeper.Answer(*rs, answer, 18, &written)) << "answered once only";

    // Another command in between: the sense belonged to the one before it.
    keeper.Remember(sense.data());
    EXPECT_FALSE(keeper.Answer(*other, answer, 2, &written));
    EXPECT_FALSE(keeper.Answer(*rs, answer, 18, &written));

    // The host's data length bounds the answer as the allocation length does.
    keeper.Remember(sense.data());
    ASSERT_TRUE(keeper.Answer(*rs, answer, 8, &written));
    EXPECT_EQ(written, 8u);
}
