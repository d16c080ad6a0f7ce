#pragma once
// The virtual device: answers the vendor commands the way the device's firmware does, keeps a
// log of everything it received, and plays a scriptable list of faults. Plain C++; the umockdev
// and TCMU front doors feed it the requests they intercept. Not thread-safe: a front door that
// calls it from several threads guards it with its own mutex.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/FirmwareImage.h"

struct DeviceConfig {
    std::string family = "ST";                                         // reply bytes 17-18
    std::array<std::uint8_t, 5> chipId{0x41, 0x42, 0x43, 0x44, 0x45};  // bytes 19,20,21,23,24
    std::uint8_t bootType = 1;                                         // byte 22
    std::string version = "V1.0.0";  // bytes 9-16, "" = no program
    std::array<std::uint8_t, 8> header{'K', 'E', 'S', 'T', 'R', 'E', 'L', '1'};  // bytes 0-7
    // false: an ordinary drive that is not the device. It refuses every vendor command the
    // way a drive refuses an opcode it does not know (NotSupported), and logs it.
    bool answersVendorCommands = true;
};

// Faults, each off by default. Command numbers count every request the model receives,
// starting at 1 (identify included); write and read numbers count only 0x86 and 0x85.
struct FaultScript {
    std::optional<unsigned> failCommandAt;  // the request of this number fails in transport
    std::optional<unsigned> failWriteAt;    // the Nth write (0x86) fails
    std::optional<unsigned> failReadAt;     // the Nth read (0x85) fails
    std::optional<std::uint16_t> badStatusByte2AtBlock;  // status byte 2 is not FF, block not kept
    std::uint8_t badStatusByte2 = 0x00;                  // what that byte 2 is then
    std::optional<std::uint16_t> wrongBlockNumberAtBlock;  // status names the block before it
    std::optional<std::uint16_t> nonzeroByte5AtBlock;      // status byte 5 = 1
    std::optional<std::uint16_t> unplugAfterBlock;         // every request fails after this block
    unsigned delayMsPerCommand = 0;       // front doors sleep this long per request
    bool identifyAnswersSwapped = false;  // identify answers 55 AA
    // Every request is refused with PermissionDenied, as the Linux kernel refuses vendor
    // opcodes to a process without CAP_SYS_RAWIO (EPERM).
    bool denyVendorCommands = false;
};

// How a request ended. The front doors map these onto their transport: through SG_IO, Ok is a
// clean completion, Failed a host error (DID_ERROR), NotSupported a CHECK CONDITION with
// ILLEGAL REQUEST (the request still "came back"), Unplugged ENODEV and PermissionDenied EPERM.
enum class RequestOutcome { Ok, Failed, NotSupported, Unplugged, PermissionDenied };

const char* OutcomeName(RequestOutcome outcome);

struct LoggedRequest {
    unsigned number = 0;                 // 1-based, counts every request
    std::array<std::uint8_t, 16> cdb{};  // as received, zero-padded
    std::size_t cdbLength = 0;
    bool toDevice = false;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> dataOut;  // bytes written to the device
    std::vector<std::uint8_t> dataIn;   // bytes the device answered (reads and identify)
    RequestOutcome outcome = RequestOutcome::Ok;
    std::string verdict;  // why the model refused it, empty when accepted
};

// One line per request for dumps: number, opcode, direction, length, outcome, verdict and up to
// the first 16 data bytes.
std::string DescribeRequest(const LoggedRequest& request);

inline constexpr std::uint8_t kFrameMark = 0xF6;
inline constexpr std::uint8_t kCommandQuery = 0xE8;
inline constexpr std::uint8_t kCommandStart = 0xFF;
inline constexpr std::uint32_t kFrameLength = 8;
inline constexpr std::uint32_t kQueryReplyLength = 27;
inline constexpr std::uint32_t kBlockStatusLength = 8;
inline constexpr std::uint32_t kIdentifyLength = 2;
inline constexpr std::uint32_t kChunkData = 320;     // chunks 0, 1 and 2
inline constexpr std::uint32_t kLastChunkData = 64;  // chunk 3
inline constexpr unsigned kChunksPerBlock = 4;

class DeviceModel {
public:
    explicit DeviceModel(DeviceConfig config = {}, FaultScript faults = {});

    // One SCSI request. cdb is as the transport carried it (10 bytes, 12 through usb-storage for
    // subclass 02, 16 through TCMU; the bytes after the tenth zero). For toDevice requests buffer
    // holds length bytes to take; otherwise the model fills up to length bytes (the rest of the
    // buffer is left as it was). Returns Failed for what a real device would refuse, with the
    // reason in the log's verdict.
    RequestOutcome Handle(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                          std::uint8_t* buffer, std::uint32_t length);

    const std::vector<LoggedRequest>& Log() const { return m_log; }
    // The flash as programmed so far: blocks that were accepted, 0xFF elsewhere; kImageSize
    // bytes.
    const std::uint8_t* Flash() const { return m_flash.data(); }
    const std::vector<std::uint8_t>& FlashImage() const { return m_flash; }
    std::uint16_t StartBlock() const { return m_startBlock; }
    std::uint16_t EndBlock() const { return m_endBlock; }
    bool RunStarted() const { return m_runStarted; }
    // The block the next chunks belong to.
    std::uint16_t NextBlock() const { return m_nextBlock; }
    unsigned BlocksAccepted() const { return m_blocksAccepted; }
    bool Unplugged() const { return m_unplugged; }

    DeviceConfig& Config() { return m_config; }
    FaultScript& Faults() { return m_faults; }
    const DeviceConfig& Config() const { return m_config; }
    const FaultScript& Faults() const { return m_faults; }

private:
    // What the next read answers.
    enum class Pending { Nothing, QueryReply, BlockStatus };

    RequestOutcome Dispatch(LoggedRequest& entry, std::uint8_t* buffer);
    RequestOutcome HandleFrame(LoggedRequest& entry, const std::uint8_t* frame);
    RequestOutcome HandleChunk(LoggedRequest& entry, const std::uint8_t* data);
    RequestOutcome HandleRead(LoggedRequest& entry, std::uint8_t* buffer);
    std::string CheckCdb(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                         std::uint32_t length) const;
    void BuildQueryReply(std::uint8_t* reply) const;
    void AnswerBlockStatus(LoggedRequest& entry, std::uint8_t* status);

    DeviceConfig m_config;
    FaultScript m_faults;
    std::vector<LoggedRequest> m_log;
    std::vector<std::uint8_t> m_flash;
    std::uint16_t m_startBlock = 0;
    std::uint16_t m_endBlock = 0;
    std::uint16_t m_nextBlock = 0;
    unsigned m_blocksAccepted = 0;
    bool m_unplugged = false;
    bool m_runStarted = false;
    Pending m_pending = Pending::Nothing;
    unsigned m_chunksReceived = 0;  // of the block being assembled
    std::array<std::uint8_t, kBlockSize> m_block{};
    unsigned m_requests = 0;
    unsigned m_writes = 0;
    unsigned m_reads = 0;
};
