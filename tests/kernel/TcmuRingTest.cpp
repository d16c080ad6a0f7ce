// Walking the target_core_user command ring in a region laid out the way the kernel lays out
// the uio map: entries answered in place (the response overlays the request), data gathered
// from and scattered to the iovecs, padding and wrap-around, and the tail published.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "vdev/tcmu/TcmuAbi.h"
#include "vdev/tcmu/TcmuRing.h"

namespace {

constexpr std::uint32_t kRingOffset = 128;
constexpr std::uint32_t kRingSize = 1024;
constexpr std::uint32_t kDataOffset = 4096;
constexpr std::size_t kRegionSize = 16384;

struct Iov {
    std::uint64_t offset;
    std::uint64_t length;
};

class Region {
public:
    Region() : m_bytes(kRegionSize, 0) {
        Put<std::uint16_t>(KESTREL_TCMU_MB_VERSION, KESTREL_TCMU_MAILBOX_VERSION);
        Put<std::uint32_t>(KESTREL_TCMU_MB_CMDR_OFF, kRingOffset);
        Put<std::uint32_t>(KESTREL_TCMU_MB_CMDR_SIZE, kRingSize);
    }

    template <typename T>
    void Put(std::size_t at, T value) {
        std::memcpy(&m_bytes[at], &value, sizeof value);
    }
    template <typename T>
    T Get(std::size_t at) const {
        T v;
        std::memcpy(&v, &m_bytes[at], sizeof v);
        return v;
    }
    std::uint8_t* Base() { return m_bytes.data(); }
    std::uint8_t& At(std::size_t at) { return m_bytes[at]; }

    // Writes a command entry at ring position `position` and returns its length.
    std::uint32_t PutCommand(std::uint32_t position, const std::vector<std::uint8_t>& cdb,
                             std::uint32_t cdbAt, const std::vector<Iov>& iovs) {
        const std::size_t entry = kRingOffset + position;
        const auto length = static_cast<std::uint32_t>(
            (KESTREL_TCMU_REQ_IOV + iovs.size() * KESTREL_TCMU_IOV_SIZE + 7) / 8 * 8 + 64);
        Put<std::uint32_t>(entry + KESTREL_TCMU_HDR_LEN_OP, length | KESTREL_TCMU_OP_CMD);
        Put<std::uint32_t>(entry + KESTREL_TCMU_REQ_IOV_CNT,
                           static_cast<std::uint32_t>(iovs.size()));
        Put<std::uint64_t>(entry + KESTREL_TCMU_REQ_CDB_OFF, cdbAt);
        for (std::size_t i = 0; i < iovs.size(); ++i)
            Put<Iov>(entry + KESTREL_TCMU_REQ_IOV + i * KESTREL_TCMU_IOV_SIZE, iovs[i]);
        std::memcpy(&m_bytes[cdbAt], cdb.data(), cdb.size());
        return length;
    }
    void PutPad(std::uint32_t position, std::uint32_t length) {
        Put<std::uint32_t>(kRingOffset + position, length | KESTREL_TCMU_OP_PAD);
    }
    void SetHead(std::uint32_t head) { Put<std::uint32_t>(KESTREL_TCMU_MB_CMD_HEAD, head); }
    void SetTail(std::uint32_t tail) { Put<std::uint32_t>(KESTREL_TCMU_MB_CMD_TAIL, tail); }
    std::uint32_t Tail() const { return Get<std::uint32_t>(KESTREL_TCMU_MB_CMD_TAIL); }
    std::uint8_t Status(std::uint32_t position) const {
        return m_bytes[kRingOffset + position + KESTREL_TCMU_RSP_SCSI_STATUS];
    }
    std::uint8_t Sense(std::uint32_t position, std::size_t i) const {
        return m_bytes[kRingOffset + position + KESTREL_TCMU_RSP_SENSE + i];
    }

private:
    std::vector<std::uint8_t> m_bytes;
};

}  // namespace

TEST(TcmuRingTest, InquiryIsAnsweredIntoSplitIovecsAndTheTailCatchesUp) {
    Region region;
    ScsiResponder responder({true, "S", 2048}, {});
    TcmuRing ring(region.Base(), kRegionSize, responder);
    ASSERT_TRUE(ring.Valid());
    // 36 bytes of INQUIRY data across two iovecs in different pages.
    const std::uint32_t length =
        region.PutCommand(0, {0x12, 0, 0, 0, 36, 0}, 3000, {{kDataOffset, 4}, {8192, 32}});
    region.SetHead(length);

    const RingPass pass = ring.ProcessPending();
    EXPECT_EQ(pass.commands, 1u);
    EXPECT_EQ(region.Status(0), kScsiGood);
    EXPECT_EQ(region.At(kDataOffset + 1), 0x80) << "RMB in the first iovec";
    EXPECT_EQ(region.At(8192 + 4), 'K') << "vendor id continues in the second iovec";
    EXPECT_EQ(region.Tail(), length);
}

TEST(TcmuRingTest, CheckConditionSenseOverlaysTheRequestAfterItWasRead) {
    Region region;
    ScsiResponder responder({true, "S", 2048}, {});
    TcmuRing ring(region.Base(), kRegionSize, responder);
    // READ(10) past the end, with an iovec: the sense is written over the iovec area.
    const std::uint32_t length =
        region.PutCommand(0, {0x28, 0, 0, 0, 0x10, 0, 0, 0, 1, 0}, 3000, {{kDataOffset, 512}});
    region.SetHead(length);
    ring.ProcessPending();
    EXPECT_EQ(region.Status(0), kScsiCheckCondition);
    EXPECT_EQ(region.Sense(0, 0), 0x70);
    EXPECT_EQ(region.Sense(0, 2), 0x05);
    EXPECT_EQ(region.Sense(0, 12), 0x21);
}

TEST(TcmuRingTest, VendorWriteDataIsGatheredWholeAndNotWrittenBack) {
    Region region;
    std::vector<std::uint8_t> received;
    ScsiResponder responder({true, "S", 2048}, [&](const std::uint8_t*, std::size_t, bool toDevice,
                                                   std::uint8_t* buffer, std::uint32_t n) {
        EXPECT_TRUE(toDevice);
        received.assign(buffer, buffer + n);
        std::memset(buffer, 0, n);  // must not reach the data area
        return RequestOutcome::Ok;
    });
    TcmuRing ring(region.Base(), kRegionSize, responder);
    for (std::uint32_t i = 0; i < 8; ++i)
        region.At(kDataOffset + i) = static_cast<std::uint8_t>(0xF0 + i);
    std::vector<std::uint8_t> cdb(16, 0);
    cdb[0] = 0x86;
    cdb[5] = 8;
    cdb[7] = 2;
    const std::uint32_t length =
        region.PutCommand(0, cdb, 3000, {{kDataOffset, 3}, {kDataOffset + 3, 5}});
    region.SetHead(length);
    ring.ProcessPending();
    EXPECT_EQ(received,
              (std::vector<std::uint8_t>{0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7}));
    EXPECT_EQ(region.At(kDataOffset), 0xF0);
    EXPECT_EQ(region.Status(0), kScsiGood);
}

TEST(TcmuRingTest, PaddingWrapsToTheStartAndUnknownEntriesAreFlagged) {
    Region region;
    ScsiResponder responder({true, "S", 2048}, {});
    TcmuRing ring(region.Base(), kRegionSize, responder);
    // Tail near the end: an unknown entry, a pad to the end, then a command at position 0.
    const std::uint32_t start = kRingSize - 128;
    region.SetTail(start);
    region.Put<std::uint32_t>(kRingOffset + start, 64 | 5u);
    region.PutPad(start + 64, 64);
    const std::uint32_t length = region.PutCommand(0, {0x00, 0, 0, 0, 0, 0}, 3000, {});
    region.SetHead(length);

    const RingPass pass = ring.ProcessPending();
    EXPECT_EQ(pass.entries, 3u);
    EXPECT_EQ(pass.commands, 1u);
    EXPECT_EQ(
        region.At(kRingOffset + start + KESTREL_TCMU_HDR_UFLAGS) & KESTREL_TCMU_UFLAG_UNKNOWN_OP,
        KESTREL_TCMU_UFLAG_UNKNOWN_OP);
    EXPECT_EQ(region.Status(0), kScsiGood);
    EXPECT_EQ(region.Tail(), length);
    EXPECT_EQ(ring.ProcessPending().entries, 0u) << "nothing pending once the tail is at the head";
}

TEST(TcmuRingTest, ReadAnswersStartZeroedNotWithStaleDataAreaBytes) {
    Region region;
    ScsiResponder responder({true, "S", 2048}, [](const std::uint8_t*, std::size_t, bool,
                                                  std::uint8_t* buffer, std::uint32_t) {
        buffer[0] = 0xAA;  // answers one byte of two
        return RequestOutcome::Ok;
    });
    TcmuRing ring(region.Base(), kRegionSize, responder);
    region.At(kDataOffset) = 0x11;
    region.At(kDataOffset + 1) = 0x55;  // left over from an earlier command
    std::vector<std::uint8_t> cdb(16, 0);
    cdb[0] = 0x87;
    region.SetHead(region.PutCommand(0, cdb, 3000, {{kDataOffset, 2}}));
    ring.ProcessPending();
    EXPECT_EQ(region.At(kDataOffset), 0xAA);
    EXPECT_EQ(region.At(kDataOffset + 1), 0x00);
}

TEST(TcmuRingTest, UnplugRequestFromTheModelIsReported) {
    Region region;
    ScsiResponder responder({true, "S", 2048},
                            [](const std::uint8_t*, std::size_t, bool, std::uint8_t*,
                               std::uint32_t) { return RequestOutcome::Unplugged; });
    TcmuRing ring(region.Base(), kRegionSize, responder);
    std::vector<std::uint8_t> cdb(16, 0);
    cdb[0] = 0x85;
    region.SetHead(region.PutCommand(0, cdb, 3000, {{kDataOffset, 8}}));
    const RingPass pass = ring.ProcessPending();
    EXPECT_TRUE(pass.unplugged);
    EXPECT_EQ(region.Status(0), kScsiCheckCondition);
    EXPECT_EQ(region.Sense(0, 12), 0x24);
}

TEST(TcmuRingTest, ForeignMailboxOrOutOfRangeIovecIsNotTrusted) {
    Region bad;
    bad.Put<std::uint16_t>(KESTREL_TCMU_MB_VERSION, 1);
    ScsiResponder responder({true, "S", 2048}, {});
    EXPECT_FALSE(TcmuRing(bad.Base(), kRegionSize, responder).Valid());

    Region region;
    TcmuRing ring(region.Base(), kRegionSize, responder);
    region.SetHead(region.PutCommand(0, {0x12, 0, 0, 0, 36, 0}, 3000, {{kRegionSize - 4, 36}}));
    ring.ProcessPending();
    EXPECT_EQ(region.Status(0), kScsiCheckCondition);
    EXPECT_EQ(region.Tail(), region.Get<std::uint32_t>(KESTREL_TCMU_MB_CMD_HEAD));
}
