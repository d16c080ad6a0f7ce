#include "vdev/ScsiResponder.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// Operation codes the sd driver and the product send.
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRequestSense = 0x03;
constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kModeSense6 = 0x1A;
constexpr std::uint8_t kStartStopUnit = 0x1B;
constexpr std::uint8_t kPreventAllowMediumRemoval = 0x1E;
constexpr std::uint8_t kReadCapacity10 = 0x25;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kSynchronizeCache10 = 0x35;
constexpr std::uint8_t kModeSense10 = 0x5A;
constexpr std::uint8_t kVendorRead = 0x85;
constexpr std::uint8_t kVendorWrite = 0x86;
constexpr std::uint8_t kVendorIdentify = 0x87;
constexpr std::uint8_t kRead16 = 0x88;
constexpr std::uint8_t kSynchronizeCache16 = 0x91;
constexpr std::uint8_t kServiceActionIn16 = 0x9E;
constexpr std::uint8_t kReadCapacity16Action = 0x10;

constexpr std::uint8_t kSenseNoSense = 0x00;
constexpr std::uint8_t kAscLbaOutOfRange = 0x21;

constexpr std::uint32_t kLogicalBlockSize = 512;

constexpr std::uint8_t kModePageCaching = 0x08;
constexpr std::uint8_t kModePageAll = 0x3F;

std::uint32_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0] << 8 | p[1]);
}

std::uint32_t Be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

std::uint64_t Be64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(Be32(p)) << 32 | Be32(p + 4);
}

void PutBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

void PutBe64(std::uint8_t* p, std::uint64_t v) {
    PutBe32(p, static_cast<std::uint32_t>(v >> 32));
    PutBe32(p + 4, static_cast<std::uint32_t>(v));
}

void PutPadded(std::uint8_t* p, const char* text, std::size_t width) {
    std::memset(p, ' ', width);
    std::memcpy(p, text, std::min(std::strlen(text), width));
}

// Copies an answer into the initiator's buffer, cut to the allocation length and the buffer.
ScsiReply Answer(const std::vector<std::uint8_t>& answer, std::uint32_t allocation,
                 std::uint8_t* buffer, std::uint32_t length) {
    const std::size_t n = std::min<std::size_t>({answer.size(), allocation, length});
    if (n > 0) std::memcpy(buffer, answer.data(), n);
    ScsiReply reply;
    reply.transferred = static_cast<std::uint32_t>(n);
    return reply;
}

}  // namespace

ScsiReply CheckCondition(std::uint8_t senseKey, std::uint8_t asc, std::uint8_t ascq) {
    ScsiReply reply;
    reply.status = kScsiCheckCondition;
    reply.sense[0] = 0x70;  // current error, fixed format
    reply.sense[2] = senseKey;
    reply.sense[7] = kFixedSenseLength - 8;
    reply.sense[12] = asc;
    reply.sense[13] = ascq;
    return reply;
}

ScsiResponder::ScsiResponder(LunIdentity identity, VendorHandler vendor)
    : m_identity(std::move(identity)), m_vendor(std::move(vendor)) {}

std::size_t ScsiResponder::CdbLengthOf(std::uint8_t opcode) {
    switch (opcode >> 5) {
        case 0:
            return 6;
        case 1:
        case 2:
            return 10;
        case 4:
            return 16;
        case 5:
            return 12;
        default:
            return 0;  // reserved or variable length: nothing we answer
    }
}

bool ScsiResponder::IsVendorWrite(std::uint8_t opcode) {
    return opcode == kVendorWrite;
}

bool ScsiResponder::IsVendorOpcode(std::uint8_t opcode) {
    return opcode == kVendorRead || opcode == kVendorWrite || opcode == kVendorIdentify;
}

ScsiReply ScsiResponder::Execute(const std::uint8_t* cdb, std::size_t cdbLength,
                                 std::uint8_t* buffer, std::uint32_t length) {
    return Execute(cdb, cdbLength, IsVendorWrite(cdb[0]), buffer, length);
}

ScsiReply ScsiResponder::Execute(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                                 std::uint8_t* buffer, std::uint32_t length) {
    const std::uint8_t opcode = cdb[0];
    // The vendor opcodes travel in 10-byte CDBs through SG_IO although their group says 16;
    // the model checks their layout itself.
    if (!IsVendorOpcode(opcode) && (cdbLength < CdbLengthOf(opcode) || CdbLengthOf(opcode) == 0))
        return CheckCondition(kSenseIllegalRequest, kAscInvalidOpcode);

    switch (opcode) {
        case kTestUnitReady:
        case kStartStopUnit:
        case kPreventAllowMediumRemoval:
        case kSynchronizeCache10:
        case kSynchronizeCache16:
            return {};
        case kRequestSense: {
            // Nothing is pending: every error is reported with the command that caused it.
            std::vector<std::uint8_t> sense(kFixedSenseLength, 0);
            sense[0] = 0x70;
            sense[2] = kSenseNoSense;
            sense[7] = kFixedSenseLength - 8;
            return Answer(sense, cdb[4], buffer, length);
        }
        case kInquiry:
            return Inquiry(cdb, buffer, length);
        case kModeSense6:
            return ModeSense(cdb, false, buffer, length);
        case kModeSense10:
            return ModeSense(cdb, true, buffer, length);
        case kReadCapacity10:
            return ReadCapacity10(buffer, length);
        case kServiceActionIn16:
            if ((cdb[1] & 0x1F) == kReadCapacity16Action) return ReadCapacity16(buffer, length);
            return CheckCondition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
        case kRead10:
            return Read(Be32(cdb + 2), Be16(cdb + 7), buffer, length);
        case kRead16:
            return Read(Be64(cdb + 2), Be32(cdb + 10), buffer, length);
        case kVendorRead:
        case kVendorWrite:
        case kVendorIdentify: {
            if (!m_vendor) return CheckCondition(kSenseIllegalRequest, kAscInvalidOpcode);
            const RequestOutcome outcome = m_vendor(cdb, cdbLength, toDevice, buffer, length);
            ScsiReply reply;
            switch (outcome) {
                case RequestOutcome::Ok:
                    reply.transferred = length;
                    break;
                case RequestOutcome::NotSupported:
                    reply = CheckCondition(kSenseIllegalRequest, kAscInvalidOpcode);
                    break;
                case RequestOutcome::Failed:
                case RequestOutcome::PermissionDenied:  // on a real stack the kernel says EPERM
                                                        // first
                    reply = CheckCondition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
                    break;
                case RequestOutcome::Unplugged:
                    reply = CheckCondition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
                    reply.unplugged = true;
                    break;
            }
            reply.vendorOutcome = outcome;
            return reply;
        }
        default:
            return CheckCondition(kSenseIllegalRequest, kAscInvalidOpcode);
    }
}

ScsiReply ScsiResponder::Inquiry(const std::uint8_t* cdb, std::uint8_t* buffer,
                                 std::uint32_t length) const {
    const std::uint32_t allocation = Be16(cdb + 3);
    const bool vpd = (cdb[1] & 0x01) != 0;
    if (!vpd) {
        if (cdb[2] != 0) return CheckCondition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
        std::vector<std::uint8_t> data(36, 0);
        data[0] = m_identity.cdrom ? 0x05 : 0x00;      // CD/DVD or direct-access block device
        data[1] = m_identity.removable ? 0x80 : 0x00;  // RMB
        data[2] = 0x05;                                // SPC-3
        data[3] = 0x02;                                // response data format
        data[4] = static_cast<std::uint8_t>(data.size() - 5);
        PutPadded(&data[8], kLunVendor, 8);
        PutPadded(&data[16], kLunProduct, 16);
        PutPadded(&data[32], kLunRevision, 4);
        return Answer(data, allocation, buffer, length);
    }
    switch (cdb[2]) {
        case 0x00: {  // supported pages: only these two, so sd asks for nothing else
            const std::vector<std::uint8_t> data{0x00, 0x00, 0x00, 0x02, 0x00, 0x80};
            return Answer(data, allocation, buffer, length);
        }
        case 0x80: {  // unit serial number
            std::vector<std::uint8_t> data{0x00, 0x80, 0x00,
                                           static_cast<std::uint8_t>(m_identity.serial.size())};
            data.insert(data.end(), m_identity.serial.begin(), m_identity.serial.end());
            return Answer(data, allocation, buffer, length);
        }
        default:
            return CheckCondition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
    }
}

ScsiReply ScsiResponder::ModeSense(const std::uint8_t* cdb, bool tenByte, std::uint8_t* buffer,
                                   std::uint32_t length) const {
    const std::uint8_t page = cdb[2] & 0x3F;
    const std::uint8_t subpage = cdb[3];
    if ((page != kModePageAll && page != kModePageCaching) || (subpage != 0 && subpage != 0xFF))
        return CheckCondition(kSenseIllegalRequest, kAscInvalidFieldInCdb);

    // Caching page: no write cache, read cache on; that is all sd wants to know.
    std::vector<std::uint8_t> caching(20, 0);
    caching[0] = kModePageCaching;
    caching[1] = static_cast<std::uint8_t>(caching.size() - 2);

    // Header without block descriptors; device-specific byte 0: not write-protected.
    const std::size_t header = tenByte ? 8 : 4;
    std::vector<std::uint8_t> data(header, 0);
    data.insert(data.end(), caching.begin(), caching.end());
    const std::size_t modeDataLength = data.size() - (tenByte ? 2 : 1);
    std::uint32_t allocation;
    if (tenByte) {
        data[0] = static_cast<std::uint8_t>(modeDataLength >> 8);
        data[1] = static_cast<std::uint8_t>(modeDataLength);
        allocation = Be16(cdb + 7);
    } else {
        data[0] = static_cast<std::uint8_t>(modeDataLength);
        allocation = cdb[4];
    }
    return Answer(data, allocation, buffer, length);
}

ScsiReply ScsiResponder::ReadCapacity10(std::uint8_t* buffer, std::uint32_t length) const {
    std::vector<std::uint8_t> data(8, 0);
    const std::uint64_t last = m_identity.blocks - 1;
    PutBe32(&data[0], last > 0xFFFFFFFEu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(last));
    PutBe32(&data[4], kLogicalBlockSize);
    return Answer(data, 8, buffer, length);
}

ScsiReply ScsiResponder::ReadCapacity16(std::uint8_t* buffer, std::uint32_t length) const {
    std::vector<std::uint8_t> data(32, 0);
    PutBe64(&data[0], m_identity.blocks - 1);
    PutBe32(&data[8], kLogicalBlockSize);
    return Answer(data, 32, buffer, length);
}

ScsiReply ScsiResponder::Read(std::uint64_t lba, std::uint32_t blocks, std::uint8_t* buffer,
                              std::uint32_t length) const {
    if (lba > m_identity.blocks || blocks > m_identity.blocks - lba)
        return CheckCondition(kSenseIllegalRequest, kAscLbaOutOfRange);
    // The medium is blank: the partition scan at attach finds nothing.
    const std::size_t n = std::min<std::size_t>(std::size_t{blocks} * kLogicalBlockSize, length);
    if (n > 0) std::memset(buffer, 0, n);
    ScsiReply reply;
    reply.transferred = static_cast<std::uint32_t>(n);
    return reply;
}
