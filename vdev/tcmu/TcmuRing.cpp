#include "vdev/tcmu/TcmuRing.h"

#include "vdev/tcmu/TcmuAbi.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// Field offsets of the packed UAPI structures. The response fields overlay the request fields,
// so everything the request says is copied out before the first response byte is written.
constexpr std::size_t kHeadOffset = KESTREL_TCMU_MB_CMD_HEAD;
constexpr std::size_t kTailOffset = KESTREL_TCMU_MB_CMD_TAIL;
constexpr std::size_t kIovCountOffset = KESTREL_TCMU_REQ_IOV_CNT;
constexpr std::size_t kCdbOffsetOffset = KESTREL_TCMU_REQ_CDB_OFF;
constexpr std::size_t kIovOffset = KESTREL_TCMU_REQ_IOV;
constexpr std::size_t kStatusOffset = KESTREL_TCMU_RSP_SCSI_STATUS;
constexpr std::size_t kSenseOffset = KESTREL_TCMU_RSP_SENSE;
constexpr std::size_t kUflagsOffset = KESTREL_TCMU_HDR_UFLAGS;
constexpr std::size_t kLargestCdb = 16;

struct RingIov {
    std::uint64_t offset;
    std::uint64_t length;
};

template <typename T>
T Load(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

TcmuRing::TcmuRing(std::uint8_t* base, std::size_t size, ScsiResponder& responder)
    : m_base(base), m_size(size), m_responder(responder) {
    if (size < KESTREL_TCMU_MB_SIZE) return;
    if (Load<std::uint16_t>(base + KESTREL_TCMU_MB_VERSION) != KESTREL_TCMU_MAILBOX_VERSION) return;
    m_ringOffset = Load<std::uint32_t>(base + KESTREL_TCMU_MB_CMDR_OFF);
    m_ringSize = Load<std::uint32_t>(base + KESTREL_TCMU_MB_CMDR_SIZE);
    m_valid = m_ringSize > 0 && m_ringOffset >= KESTREL_TCMU_MB_SIZE &&
              std::size_t{m_ringOffset} + m_ringSize <= size;
}

RingPass TcmuRing::ProcessPending() {
    RingPass pass;
    if (!m_valid) return pass;
    auto* head = reinterpret_cast<std::uint32_t*>(m_base + kHeadOffset);
    auto* tail = reinterpret_cast<std::uint32_t*>(m_base + kTailOffset);
    std::uint32_t position = __atomic_load_n(tail, __ATOMIC_RELAXED);
    // The kernel fills an entry before it moves the head: read the head with acquire order.
    const std::uint32_t end = __atomic_load_n(head, __ATOMIC_ACQUIRE);
    while (position != end && position < m_ringSize) {
        std::uint8_t* entry = m_base + m_ringOffset + position;
        const auto lenOp = Load<std::uint32_t>(entry);
        const std::uint32_t length = lenOp & ~KESTREL_TCMU_OP_MASK;
        if (length == 0 || position + length > m_ringSize) break;  // corrupt: stop, never spin
        switch (lenOp & KESTREL_TCMU_OP_MASK) {
            case KESTREL_TCMU_OP_PAD:
                break;
            case KESTREL_TCMU_OP_CMD:
                HandleCommand(entry, length, &pass);
                break;
            case KESTREL_TCMU_OP_TMR:
                break;  // sent only when we announce support; nothing to abort
            default:
                entry[kUflagsOffset] |= KESTREL_TCMU_UFLAG_UNKNOWN_OP;
                break;
        }
        ++pass.entries;
        position = (position + length) % m_ringSize;
    }
    // Responses are written before the tail moves past them.
    __atomic_store_n(tail, position, __ATOMIC_RELEASE);
    return pass;
}

void TcmuRing::HandleCommand(std::uint8_t* entry, std::uint32_t entryLength, RingPass* pass) {
    ++pass->commands;
    // Copy the request out first: the response is written over it.
    const auto iovCount = Load<std::uint32_t>(entry + kIovCountOffset);
    const auto cdbOffset = Load<std::uint64_t>(entry + kCdbOffsetOffset);
    std::vector<RingIov> iovs;
    bool sane =
        kIovOffset + std::size_t{iovCount} * sizeof(RingIov) <= entryLength && cdbOffset < m_size;
    if (sane) {
        iovs.resize(iovCount);
        for (std::uint32_t i = 0; i < iovCount; ++i) {
            iovs[i] = Load<RingIov>(entry + kIovOffset + i * sizeof(RingIov));
            sane = sane && iovs[i].offset <= m_size && iovs[i].length <= m_size - iovs[i].offset;
        }
    }
    std::uint8_t cdb[kLargestCdb] = {};
    std::size_t cdbLength = 0;
    if (sane) {
        cdbLength = ScsiResponder::CdbLengthOf(m_base[cdbOffset]);
        if (cdbLength == 0) cdbLength = 1;  // answered as an unknown opcode
        sane = cdbOffset + cdbLength <= m_size;
        if (sane) std::memcpy(cdb, m_base + cdbOffset, cdbLength);
    }

    ScsiReply reply;
    if (!sane) {
        reply = CheckCondition(0x05, 0x24);  // ILLEGAL REQUEST, INVALID FIELD IN CDB
    } else {
        // One contiguous buffer for the command's data: gathered from the iovecs for a write,
        // zeroed for everything else (the data area holds stale bytes of earlier commands,
        // which must never reach the initiator) and scattered back afterwards.
        std::size_t total = 0;
        for (const RingIov& iov : iovs) total += iov.length;
        std::vector<std::uint8_t> data(total, 0);
        const bool write = ScsiResponder::IsVendorWrite(cdb[0]);
        std::size_t at = 0;
        for (const RingIov& iov : iovs) {
            if (write) std::memcpy(data.data() + at, m_base + iov.offset, iov.length);
            at += iov.length;
        }
        const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(total, UINT32_MAX));
        reply = m_responder.Execute(cdb, cdbLength, data.data(), length);
        if (!write) {
            at = 0;
            for (const RingIov& iov : iovs) {
                std::memcpy(m_base + iov.offset, data.data() + at, iov.length);
                at += iov.length;
            }
        }
    }

    entry[kStatusOffset] = reply.status;
    if (reply.status == kScsiCheckCondition)
        std::memcpy(entry + kSenseOffset, reply.sense.data(), reply.sense.size());
    pass->unplugged = pass->unplugged || reply.unplugged;
}
