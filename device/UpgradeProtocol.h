#pragma once
// The upgrade run: Upgrade checks the device against the loaded image and sends the start
// frame, each tick of block timer 1 sends one block and checks the device's block status, and
// Cancel stops the run. All three run on the user interface thread, talk to the user only
// through the dialog services and read the one global image.
//
// While blocks are being sent (timer armed) Browse, Upgrade and both Generate buttons are
// disabled and Cancel stays usable, so nothing can replace the image or the drive handle under
// a run; a tick sends only on the handle that accepted the start frame, and a run needs
// startBlock < endBlock <= 512.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

class DialogServices;

inline constexpr char kMsgDeviceOpenFail[] = "Device Open Fail!";
inline constexpr char kMsgSendError[] = "Send Error!";
inline constexpr char kMsgReadError[] = "Read Error!";
inline constexpr char kMsgChipTypeMismatch[] = "Chip Type Mismatch!";
inline constexpr char kMsgBootTypeMismatch[] = "Boot Type Mismatch!";
inline constexpr char kMsgCodeEmpty[] = "Code Empty, Continue?";
inline constexpr char kMsgVersionPrefix[] = "Current Version is ";
inline constexpr char kMsgVersionSuffix[] = ", Continue?";
inline constexpr char kMsgFinishOk[] = "Finish OK!";
// Our own: the loaded image has no block range that could be sent.
inline constexpr char kMsgBlockRangeError[] = "Block Range Error!";

inline constexpr unsigned kFirstBlockDelayMs = 100;  // start frame to first block
inline constexpr unsigned kNextBlockDelayMs = 15;    // end of one block to the next
inline constexpr unsigned kStartFrameDelayMs = 100;  // confirmation to start frame
inline constexpr unsigned kCancelWaitMs = 2000;      // lets the device settle after a run

inline constexpr std::uint32_t kQueryReplySize = 27;
inline constexpr std::uint32_t kBlockStatusSize = 8;
inline constexpr std::uint32_t kChunkSize = 320;     // chunks 0, 1, 2
inline constexpr std::uint32_t kLastChunkSize = 64;  // chunk 3
inline constexpr unsigned kBlockChunks = 4;

// Handler of the Upgrade button.
void StartUpgrade(DialogServices& dlg);
// Handler of block timer 1.
void SendNextBlock(DialogServices& dlg);
// Handler of the Cancel button.
void CancelUpgrade(DialogServices& dlg);

// How the last run ended, as a value: front ends decide exit statuses, records and reports
// from it, never from a message's wording.
enum class UpgradeOutcome {
    None,             // no run yet, or one still sending blocks
    Finished,         // every block accepted ("Finish OK!")
    Failed,           // a failure message was shown
    Declined,         // the confirmation prompt was answered Cancel
    StoppedSilently,  // the device's reply ended the run without a message (all-zero header)
    Cancelled,        // Cancel (or an interrupt) stopped a run that had not ended otherwise
    Withheld,         // the front end kept the start frame back (BeforeStartFrame said no)
};
UpgradeOutcome LastUpgradeOutcome();

// Why the last run failed, as a value beside its outcome: the message a run shows is the
// dialog's and says "Send Error!" for several causes; records and reports need the cause.
struct UpgradeFailure {
    enum class Kind {
        None,          // no failure (or one with no cause of its own, like the block range)
        NoDevice,      // no drive answered as the device ("Device Open Fail!")
        BlockRefused,  // the device's block status did not accept the block sent
        DeviceGone,    // a request failed because the device is no longer attached
        IoError,       // a request failed on a device still attached
        CheckFailed,   // the device's query reply does not match the image
    };
    enum class Check { Family, ChipId, BootType };
    Kind kind = Kind::None;
    unsigned block = 0;                                   // BlockRefused: the block sent
    std::array<std::uint8_t, kBlockStatusSize> status{};  // BlockRefused: its status as read
    std::string osError;          // DeviceGone, IoError: the OS's name for it ("ENODEV", "EIO")
    Check check = Check::Family;  // CheckFailed
};
const UpgradeFailure& LastUpgradeFailure();
// The version the device reported before the last run, as its prompt shows it; "" for a device
// with no program, nothing when the run never got that far.
const std::optional<std::string>& LastReportedVersion();
// True when the last run failed because no drive answered as the device ("Device Open Fail!").
bool LastUpgradeFoundNoDevice();
// "finished", "failed", "declined", "stopped", "cancelled", "withheld", "none".
const char* UpgradeOutcomeName(UpgradeOutcome outcome);
std::optional<UpgradeOutcome> UpgradeOutcomeFromName(const std::string& name);

// True while the dialog's open drive handle is the one that accepted the start frame of the
// current run; only then does a tick send a block.
bool UpgradeStartAccepted(const DialogServices& dlg);
