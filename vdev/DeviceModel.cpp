#include "vdev/DeviceModel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint8_t kOpRead = 0x85;
constexpr std::uint8_t kOpWrite = 0x86;
constexpr std::uint8_t kOpIdentify = 0x87;
constexpr std::uint8_t kCdbByte7 = 2;
constexpr std::size_t kShortCdb = 10;
constexpr std::size_t kLongCdb = 16;
constexpr std::uint8_t kStatusAccepted = 0xFF;

std::uint8_t Xor(const std::uint8_t* data, std::size_t length) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < length; ++i) {
        x = static_cast<std::uint8_t>(x ^ data[i]);
    }
    return x;
}

std::string Hex(const std::uint8_t* data, std::size_t length) {
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", data[i]);
        text += byte;
    }
    return text;
}

std::uint32_t ChunkWriteLength(unsigned chunk) {
    return (chunk + 1 < kChunksPerBlock ? kChunkData : kLastChunkData) + 1;
}

}  // namespace

const char* OutcomeName(RequestOutcome outcome) {
    switch (outcome) {
        case RequestOutcome::Ok:
            return "ok";
        case RequestOutcome::Failed:
            return "failed";
        case RequestOutcome::NotSupported:
            return "not supported";
        case RequestOutcome::Unplugged:
            return "unplugged";
        case RequestOutcome::PermissionDenied:
            return "permission denied";
    }
    return "?";
}

std::string DescribeRequest(const LoggedRequest& request) {
    const char* name = "opcode";
    switch (request.cdb[0]) {
        case kOpRead:
            name = "read";
            break;
        case kOpWrite:
            name = "write";
            break;
        case kOpIdentify:
            name = "identify";
            break;
        default:
            break;
    }
    char head[96];
    std::snprintf(head, sizeof head, "#%u %s(%02X) %s %u bytes: %s", request.number, name,
                  request.cdb[0], request.toDevice ? "out" : "in", request.length,
                  OutcomeName(request.outcome));
    std::string line = head;
    if (!request.verdict.empty()) {
        line += " (" + request.verdict + ")";
    }
    const auto& data = request.toDevice ? request.dataOut : request.dataIn;
    if (!data.empty()) {
        constexpr std::size_t kShown = 16;
        line += " [" + Hex(data.data(), std::min(data.size(), kShown));
        line += data.size() > kShown ? " ...]" : "]";
    }
    return line;
}

DeviceModel::DeviceModel(DeviceConfig config, FaultScript faults)
    : m_config(std::move(config)), m_faults(faults), m_flash(kImageSize, kErasedByte) {}

RequestOutcome DeviceModel::Handle(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                                   std::uint8_t* buffer, std::uint32_t length) {
    LoggedRequest& entry = m_log.emplace_back();
    entry.number = ++m_requests;
    std::copy_n(cdb, std::min(cdbLength, entry.cdb.size()), entry.cdb.begin());
    entry.cdbLength = cdbLength;
    entry.toDevice = toDevice;
    entry.length = length;
    if (toDevice && buffer != nullptr) {
        entry.dataOut.assign(buffer, buffer + length);
    }

    auto refuse = [&entry](RequestOutcome outcome, std::string verdict) {
        entry.outcome = outcome;
        entry.verdict = std::move(verdict);
        return outcome;
    };

    if (m_unplugged) {
        return refuse(RequestOutcome::Unplugged, "device unplugged");
    }
    if (m_faults.denyVendorCommands) {
        return refuse(RequestOutcome::PermissionDenied, "vendor commands denied (EPERM)");
    }
    if (m_faults.failCommandAt == entry.number) {
        return refuse(RequestOutcome::Failed,
                      "scripted: request " + std::to_string(entry.number) + " fails");
    }
    const std::uint8_t opcode = cdbLength > 0 ? cdb[0] : 0;
    if (!m_config.answersVendorCommands ||
        (opcode != kOpRead && opcode != kOpWrite && opcode != kOpIdentify)) {
        return refuse(RequestOutcome::NotSupported, "opcode not supported");
    }
    if (std::string fault = CheckCdb(cdb, cdbLength, toDevice, length); !fault.empty()) {
        return refuse(RequestOutcome::Failed, std::move(fault));
    }
    if (length > 0 && buffer == nullptr) {
        return refuse(RequestOutcome::Failed, "no data buffer");
    }
    if (opcode == kOpWrite && m_faults.failWriteAt == ++m_writes) {
        return refuse(RequestOutcome::Failed,
                      "scripted: write " + std::to_string(m_writes) + " fails");
    }
    if (opcode == kOpRead && m_faults.failReadAt == ++m_reads) {
        return refuse(RequestOutcome::Failed,
                      "scripted: read " + std::to_string(m_reads) + " fails");
    }
    entry.outcome = Dispatch(entry, buffer);
    return entry.outcome;
}

std::string DeviceModel::CheckCdb(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                                  std::uint32_t length) const {
    // 10 bytes as the product sends them, padded with zeros by the transport on the way: to 12
    // by usb-storage for an interface of subclass 02 (ATAPI pads every command), to 16 by target
    // core for the opcodes' group. A real device reads the first ten and takes them all.
    if (cdbLength < kShortCdb || cdbLength > kLongCdb) {
        return "CDB of " + std::to_string(cdbLength) + " bytes";
    }
    for (std::size_t i : {1U, 6U, 8U, 9U}) {
        if (cdb[i] != 0) {
            return "CDB byte " + std::to_string(i) + " is not 0";
        }
    }
    if (cdb[7] != kCdbByte7) {
        return "CDB byte 7 is not 2";
    }
    for (std::size_t i = kShortCdb; i < cdbLength; ++i) {
        if (cdb[i] != 0) {
            return "CDB byte " + std::to_string(i) + " is not 0";
        }
    }
    const std::uint32_t cdbTransfer = (std::uint32_t{cdb[2]} << 24) |
                                      (std::uint32_t{cdb[3]} << 16) | (std::uint32_t{cdb[4]} << 8) |
                                      std::uint32_t{cdb[5]};
    if (cdbTransfer != length) {
        return "CDB length " + std::to_string(cdbTransfer) + " but " + std::to_string(length) +
               " bytes transferred";
    }
    if (toDevice != (cdb[0] == kOpWrite)) {
        return toDevice ? "data sent to the device on a read command"
                        : "data read from the device on a write command";
    }
    return {};
}

RequestOutcome DeviceModel::Dispatch(LoggedRequest& entry, std::uint8_t* buffer) {
    const std::uint32_t length = entry.length;
    switch (entry.cdb[0]) {
        case kOpIdentify: {
            if (length != kIdentifyLength) {
                entry.verdict = "identify of " + std::to_string(length) + " bytes";
                return RequestOutcome::Failed;
            }
            buffer[0] = m_faults.identifyAnswersSwapped ? 0x55 : 0xAA;
            buffer[1] = m_faults.identifyAnswersSwapped ? 0xAA : 0x55;
            entry.dataIn.assign(buffer, buffer + length);
            return RequestOutcome::Ok;
        }
        case kOpRead:
            return HandleRead(entry, buffer);
        case kOpWrite:
            if (length == kFrameLength) {
                return HandleFrame(entry, buffer);
            }
            if (length == kChunkData + 1 || length == kLastChunkData + 1) {
                return HandleChunk(entry, buffer);
            }
            entry.verdict = "write of " + std::to_string(length) + " bytes";
            return RequestOutcome::Failed;
        default:
            break;
    }
    entry.verdict = "opcode not supported";
    return RequestOutcome::NotSupported;
}

RequestOutcome DeviceModel::HandleFrame(LoggedRequest& entry, const std::uint8_t* frame) {
    if (frame[0] != kFrameMark || frame[1] != 0 || frame[7] != kFrameMark) {
        entry.verdict = "frame without F6 00 ... F6";
        return RequestOutcome::Failed;
    }
    if (Xor(frame + 2, 4) != frame[6]) {
        entry.verdict = "frame check byte wrong";
        return RequestOutcome::Failed;
    }
    // A frame starts over: whatever part of a block came before it is dropped, as after a
    // run that stalled and is being restarted.
    m_chunksReceived = 0;
    switch (frame[2]) {
        case kCommandQuery:
            m_pending = Pending::QueryReply;
            return RequestOutcome::Ok;
        case kCommandStart: {
            const auto start = static_cast<std::uint16_t>((frame[3] << 4) | (frame[4] >> 4));
            const auto end = static_cast<std::uint16_t>(((frame[4] & 0x0F) << 8) | frame[5]);
            if (start < kBootBlocks || start >= end || end > kImageBlocks) {
                entry.verdict = "start frame range " + std::to_string(start) + ".." +
                                std::to_string(end) + " refused";
                return RequestOutcome::Failed;
            }
            m_startBlock = start;
            m_endBlock = end;
            m_nextBlock = start;
            m_blocksAccepted = 0;
            m_runStarted = true;
            m_pending = Pending::Nothing;
            return RequestOutcome::Ok;
        }
        default:
            entry.verdict = "unknown command code";
            return RequestOutcome::Failed;
    }
}

RequestOutcome DeviceModel::HandleChunk(LoggedRequest& entry, const std::uint8_t* data) {
    const std::uint32_t length = entry.length;
    if (!m_runStarted) {
        entry.verdict = "chunk before the start frame";
        return RequestOutcome::Failed;
    }
    if (m_pending == Pending::BlockStatus) {
        entry.verdict = "chunk before the block status was read";
        return RequestOutcome::Failed;
    }
    if (m_nextBlock >= m_endBlock) {
        entry.verdict = "block " + std::to_string(m_nextBlock) + " is beyond the range";
        return RequestOutcome::Failed;
    }
    const unsigned chunk = m_chunksReceived;
    if (length != ChunkWriteLength(chunk)) {
        entry.verdict = "chunk " + std::to_string(chunk) + " of block " +
                        std::to_string(m_nextBlock) + " must be " +
                        std::to_string(ChunkWriteLength(chunk)) + " bytes";
        m_chunksReceived = 0;
        return RequestOutcome::Failed;
    }
    const std::uint32_t dataLength = length - 1;
    if (Xor(data, dataLength) != data[dataLength]) {
        entry.verdict = "bad check byte in chunk " + std::to_string(chunk) + " of block " +
                        std::to_string(m_nextBlock);
        m_chunksReceived = 0;
        return RequestOutcome::Failed;
    }
    std::copy_n(data, dataLength, m_block.begin() + chunk * kChunkData);
    if (++m_chunksReceived == kChunksPerBlock) {
        m_pending = Pending::BlockStatus;
    }
    return RequestOutcome::Ok;
}

RequestOutcome DeviceModel::HandleRead(LoggedRequest& entry, std::uint8_t* buffer) {
    const std::uint32_t length = entry.length;
    if (length == kQueryReplyLength && m_pending == Pending::QueryReply) {
        BuildQueryReply(buffer);
        m_pending = Pending::Nothing;
    } else if (length == kBlockStatusLength && m_pending == Pending::BlockStatus) {
        AnswerBlockStatus(entry, buffer);
    } else {
        entry.verdict = "read of " + std::to_string(length) + " bytes with " +
                        (m_pending == Pending::QueryReply    ? "a query reply"
                         : m_pending == Pending::BlockStatus ? "a block status"
                                                             : "nothing") +
                        " to answer";
        return RequestOutcome::Failed;
    }
    entry.dataIn.assign(buffer, buffer + length);
    return RequestOutcome::Ok;
}

void DeviceModel::BuildQueryReply(std::uint8_t* reply) const {
    std::fill_n(reply, kQueryReplyLength, std::uint8_t{0});
    std::copy(m_config.header.begin(), m_config.header.end(), reply);
    const std::size_t versionLength = std::min<std::size_t>(m_config.version.size(), 8);
    std::memcpy(reply + 9, m_config.version.data(), versionLength);
    const std::size_t familyLength = std::min<std::size_t>(m_config.family.size(), 2);
    std::memcpy(reply + 17, m_config.family.data(), familyLength);
    reply[19] = m_config.chipId[0];
    reply[20] = m_config.chipId[1];
    reply[21] = m_config.chipId[2];
    reply[22] = m_config.bootType;
    reply[23] = m_config.chipId[3];
    reply[24] = m_config.chipId[4];
}

void DeviceModel::AnswerBlockStatus(LoggedRequest& entry, std::uint8_t* status) {
    const std::uint16_t block = m_nextBlock;
    std::fill_n(status, kBlockStatusLength, std::uint8_t{0});
    m_pending = Pending::Nothing;
    m_chunksReceived = 0;
    if (m_faults.badStatusByte2AtBlock == block) {
        // Not accepted: the block is not kept and the device still waits for it. The status
        // still names the block, so that byte 2 alone says it was not accepted.
        status[2] = m_faults.badStatusByte2;
        status[3] = static_cast<std::uint8_t>(block >> 8);
        status[4] = static_cast<std::uint8_t>(block & 0xFF);
        entry.verdict = "scripted: status byte 2 wrong for block " + std::to_string(block);
        return;
    }
    std::copy(m_block.begin(), m_block.end(), m_flash.begin() + block * kBlockSize);
    ++m_blocksAccepted;
    ++m_nextBlock;
    std::uint16_t named = block;
    if (m_faults.wrongBlockNumberAtBlock == block) {
        named = static_cast<std::uint16_t>(block - 1);
        entry.verdict = "scripted: status names block " + std::to_string(named);
    }
    status[2] = kStatusAccepted;
    status[3] = static_cast<std::uint8_t>(named >> 8);
    status[4] = static_cast<std::uint8_t>(named & 0xFF);
    if (m_faults.nonzeroByte5AtBlock == block) {
        status[5] = 1;
        entry.verdict = "scripted: status byte 5 nonzero for block " + std::to_string(block);
    }
    if (m_faults.unplugAfterBlock == block) {
        m_unplugged = true;
    }
}
