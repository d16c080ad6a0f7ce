#pragma once
// USB mass storage Bulk-Only Transport, the device's side, as plain logic over bytes: the
// command block wrapper (CBW, 31 bytes) that carries each SCSI command to the device, the
// status wrapper (CSW, 13 bytes) that answers it, and what to put on the bulk pipes between
// them. The USB door of kestrel-vdev moves the bytes; this file decides them, so that it is
// tested without a kernel.
//
// What usb-storage expects, and so what this does:
// - A CBW that is not 31 bytes or lacks its signature is not meaningful: both bulk pipes are
//   stalled until the host resets the device (Bulk-Only Mass Storage Reset), then the host
//   clears the halts and sends the next CBW.
// - Data to the host shorter than the host asked for ends in a short packet; when it is a
//   multiple of the packet size (no short packet would end it) the IN pipe is stalled instead.
//   The residue in the CSW is what was not transferred.
// - A failed command (CHECK CONDITION) answers CSW status 1; the CSW has no room for sense
//   data, so usb-storage asks REQUEST SENSE next, and gets the failure's sense, once.
// - CSW status 2 (phase error) makes usb-storage reset the device and fail the command.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

inline constexpr std::size_t kCbwSize = 31;
inline constexpr std::size_t kCswSize = 13;

struct CommandBlock {
    std::uint32_t tag = 0;
    std::uint32_t dataLength = 0;  // bytes the host will move in the data stage
    bool toHost = false;           // bmCBWFlags bit 7: data comes from the device
    std::uint8_t lun = 0;
    std::uint8_t cdbLength = 0;  // 1 to 16
    std::array<std::uint8_t, 16> cdb{};
};

enum class CswStatus : std::uint8_t { Passed = 0, Failed = 1, PhaseError = 2 };

// The CBW in bytes, or nothing when it is not valid and meaningful (size, signature, LUN 0
// only, command length 1 to 16).
std::optional<CommandBlock> ParseCommandBlock(const std::uint8_t* bytes, std::size_t size);

std::array<std::uint8_t, kCswSize> BuildStatus(std::uint32_t tag, std::uint32_t residue,
                                               CswStatus status);

// How to end the data stage of a command whose data goes to the host.
struct DataInPlan {
    std::uint32_t send = 0;     // bytes to write to the IN pipe
    bool stallIn = false;       // then halt the IN pipe
    std::uint32_t residue = 0;  // for the CSW
};
// expected: the CBW's length; produced: the bytes the command has; failed: the command failed
// (nothing is sent, the pipe is stalled when the host expects data); packet: max packet size.
DataInPlan PlanDataIn(std::uint32_t expected, std::uint32_t produced, bool failed,
                      std::uint32_t packet);

// The sense of the last failed command, kept for the REQUEST SENSE that follows it.
class SenseKeeper {
public:
    static constexpr std::size_t kSenseSize = 18;

    // Called with every command before it runs: true when it is a REQUEST SENSE that the kept
    // sense answers (copied into answer, up to length bytes; *written says how many). The sense
    // is forgotten either way: it belongs to the command just before.
    bool Answer(const CommandBlock& command, std::uint8_t* answer, std::uint32_t length,
                std::uint32_t* written);
    // Called after a command ran, with its sense when it failed (nullptr when it passed).
    void Remember(const std::uint8_t* sense);

private:
    std::array<std::uint8_t, kSenseSize> m_sense{};
    bool m_kept = false;
};
