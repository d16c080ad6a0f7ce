#pragma once
// The virtual device: answers the vendor commands the way the device's firmware does, keeps a
// log of everything it received, and plays a scriptable list of faults. Plain C++; the umockdev
// and TCMU front doors feed it the requests they intercept. Not thread-safe: a front door that
// calls it from several threads guards it with its own mutex.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/FirmwareImage.h"

struct DeviceConfig {
    std::string family = "ST";                              // reply bytes 17-18
    std::array<std::uint8_t, 5> chipId{0x41, 0x42, 0x43, 0x44, 0x45};  // bytes 19,20,21,23,24
    std::uint8_t bootType = 1;                              // byte 22
    std::string version = "V1.0.0";                         // bytes 9-16, "" = no program
    std::array<std::uint8_t, 8> header{'K', 'E', 'S', 'T', 'R', 'E', 'L', '1'};  // bytes 0-7
};

// Faults, each off by default. Command numbers count every request the model receives,
// starting at 1 (identify included).
struct FaultScript {
    std::optional<unsigned> failCommandAt;   // the request of this number fails in transport
    std::optional<unsigned> failWriteAt;     // the Nth write (0x86) fails
    std::optional<unsigned> failReadAt;      // the Nth read (0x85) fails
    std::optional<std::uint16_t> badStatusByte2AtBlock;   // status byte 2 not 0xFF for that block
    std::optional<std::uint16_t> wrongBlockNumberAtBlock; // status names another block
    std::optional<std::uint16_t> nonzeroByte5AtBlock;     // status byte 5 = 1
    std::optional<std::uint16_t> unplugAfterBlock;        // every request fails after this block
    unsigned delayMsPerCommand = 0;          // front doors sleep this long per request
    bool identifyAnswersSwapped = false;     // identify answers 55 AA
};

enum class RequestOutcome { Ok, Failed, Unplugged };

struct LoggedRequest {
    std::array<std::uint8_t, 16> cdb{};  // as received, zero-padded
    std::size_t cdbLength = 0;
    bool toDevice = false;
    std::uint32_t length = 0;
    std::vector<std::uint8_t> dataOut;   // bytes written to the device
    RequestOutcome outcome = RequestOutcome::Ok;
    std::string verdict;                 // why the model refused it, empty when accepted
};

class DeviceModel {
public:
    explicit DeviceModel(DeviceConfig config = {}, FaultScript faults = {});

    // One SCSI request. cdb is as the transport carried it (10 bytes, or 16 through TCMU with
    // the last six zero). For toDevice requests buffer holds length bytes to take; otherwise
    // the model fills up to length bytes. Returns Failed for what a real device would refuse.
    RequestOutcome Handle(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                          std::uint8_t* buffer, std::uint32_t length);

    const std::vector<LoggedRequest>& Log() const { return m_log; }
    // The flash as programmed so far: blocks that were accepted, 0xFF elsewhere.
    const std::uint8_t* Flash() const { return m_flash.data(); }
    std::uint16_t StartBlock() const { return m_startBlock; }
    std::uint16_t EndBlock() const { return m_endBlock; }
    unsigned BlocksAccepted() const { return m_blocksAccepted; }
    bool Unplugged() const { return m_unplugged; }

    DeviceConfig& Config() { return m_config; }
    FaultScript& Faults() { return m_faults; }

private:
    DeviceConfig m_config;
    FaultScript m_faults;
    std::vector<LoggedRequest> m_log;
    std::vector<std::uint8_t> m_flash;
    std::uint16_t m_startBlock = 0;
    std::uint16_t m_endBlock = 0;
    unsigned m_blocksAccepted = 0;
    bool m_unplugged = false;
    // further protocol state is the implementation's
};
