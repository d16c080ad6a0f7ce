#include "vdev/usb/BulkOnly.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr std::uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr std::uint8_t kDirectionIn = 0x80;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::size_t kMaxCdb = 16;

std::uint32_t Le32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

void PutLe32(std::uint8_t* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::optional<CommandBlock> ParseCommandBlock(const std::uint8_t* bytes, std::size_t size) {
    if (size != kCbwSize || Le32(bytes) != kCbwSignature) return std::nullopt;
    CommandBlock block;
    block.tag = Le32(bytes + 4);
    block.dataLength = Le32(bytes + 8);
    block.toHost = (bytes[12] & kDirectionIn) != 0;
    block.lun = bytes[13] & 0x0F;
    block.cdbLength = bytes[14] & 0x1F;
    // One LUN (Get Max LUN answers 0); bits the CBW reserves must be 0.
    if (block.lun != 0 || (bytes[12] & 0x7F) != 0 || (bytes[13] & 0xF0) != 0 ||
        block.cdbLength == 0 || block.cdbLength > kMaxCdb)
        return std::nullopt;
    std::copy_n(bytes + 15, block.cdbLength, block.cdb.begin());
    return block;
}

std::array<std::uint8_t, kCswSize> BuildStatus(std::uint32_t tag, std::uint32_t residue,
                                               CswStatus status) {
    std::array<std::uint8_t, kCswSize> csw{};
    PutLe32(csw.data(), kCswSignature);
    PutLe32(csw.data() + 4, tag);
    PutLe32(csw.data() + 8, residue);
    csw[12] = static_cast<std::uint8_t>(status);
    return csw;
}

DataInPlan PlanDataIn(std::uint32_t expected, std::uint32_t produced, bool failed,
                      std::uint32_t packet) {
    DataInPlan plan;
    plan.send = failed ? 0 : std::min(expected, produced);
    plan.residue = expected - plan.send;
    // A short transfer ends with a short packet by itself; a whole number of packets (or none)
    // would leave the host waiting for more, so the pipe is stalled.
    plan.stallIn = plan.residue != 0 && (packet == 0 || plan.send % packet == 0);
    return plan;
}

bool SenseKeeper::Answer(const CommandBlock& command, std::uint8_t* answer, std::uint32_t length,
                         std::uint32_t* written) {
    const bool kept = m_kept;
    m_kept = false;
    if (!kept || command.cdb[0] != kRequestSense) return false;
    // The allocation length in the CDB and the host's data length both bound the answer.
    const std::uint32_t wanted = std::min<std::uint32_t>(command.cdb[4], length);
    *written = std::min<std::uint32_t>(wanted, kSenseSize);
    std::memcpy(answer, m_sense.data(), *written);
    return true;
}

void SenseKeeper::Remember(const std::uint8_t* sense) {
    m_kept = sense != nullptr;
    if (m_kept) std::memcpy(m_sense.data(), sense, kSenseSize);
}
