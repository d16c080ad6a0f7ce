#include "device/UpgradeProtocol.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "services/DialogServices.h"
#include "device/CommandFrame.h"
#include "device/DriveDiscovery.h"
#include "device/SleepInhibitor.h"
#include "device/VendorCommands.h"
#include "image/FirmwareImage.h"
#include "image/LoadAnalysis.h"

namespace {

// Query reply layout.
constexpr std::size_t kReplyHeader = 0, kReplyHeaderSize = 8;
constexpr std::size_t kReplyVersion = 9, kReplyVersionSize = 8;
constexpr std::size_t kReplyFamily = 17;
constexpr std::size_t kReplyBootType = 22;

// Reply byte and the trailer byte it must equal, in the order the device is checked.
struct ChipIdCheck {
    std::size_t replyByte;
    unsigned trailerByte;
};
constexpr std::array<ChipIdCheck, 5> kChipIdChecks{{{19, 2}, {20, 3}, {21, 4}, {23, 6}, {24, 7}}};
constexpr unsigned kTrailerBootType = 5;

// Block status layout.
constexpr std::size_t kStatusAccepted = 2, kStatusBlockHigh = 3, kStatusBlockLow = 4,
                      kStatusZero = 5;
constexpr std::uint8_t kBlockAccepted = 0xFF;

// The run the open handle belongs to. Kept apart from the image record, whose fields are fixed:
// a tick may send only on the very handle that accepted the start frame.
struct UpgradeRun {
    bool startAccepted = false;
    DriveHandle handle = kInvalidDrive;
    // Held from just before the start frame until the run ends in any way; resetting the run
    // releases it.
    SleepInhibitor sleepInhibitor;
};
UpgradeRun s_run;

// How the last run ended; kept apart from s_run, which is reset when a run finishes.
struct RunResult {
    UpgradeOutcome outcome = UpgradeOutcome::None;
    std::optional<std::string> versionBefore;
    UpgradeFailure failure;
};
RunResult s_result;

// Shows a failure message and records the run as failed, with its cause.
void Fail(DialogServices& dlg, const char* message, UpgradeFailure failure = {}) {
    s_result.outcome = UpgradeOutcome::Failed;
    s_result.failure = std::move(failure);
    dlg.ShowMessage(message);
}

// A request that did not come back: the device gone, or an I/O error on one still there.
UpgradeFailure RequestFailed(const PassThroughResult& result) {
    UpgradeFailure failure;
    failure.kind = PassThroughDeviceGone(result) ? UpgradeFailure::Kind::DeviceGone
                                                 : UpgradeFailure::Kind::IoError;
    failure.osError = PassThroughErrorName(result);
    return failure;
}

UpgradeFailure Failure(UpgradeFailure::Kind kind) {
    UpgradeFailure failure;
    failure.kind = kind;
    return failure;
}

UpgradeFailure CheckFailed(UpgradeFailure::Check check) {
    UpgradeFailure failure;
    failure.kind = UpgradeFailure::Kind::CheckFailed;
    failure.check = check;
    return failure;
}

using QueryReply = std::array<std::uint8_t, kQueryReplySize>;

bool AllZero(const QueryReply& reply, std::size_t first, std::size_t count) {
    for (std::size_t i = first; i < first + count; ++i) {
        if (reply[i] != 0) return false;
    }
    return true;
}

// The check of the chip that failed, or nothing when the chip matches the image.
std::optional<UpgradeFailure::Check> ChipMismatch(const QueryReply& reply) {
    if (!IsValidChipFamily(reply[kReplyFamily], reply[kReplyFamily + 1]))
        return UpgradeFailure::Check::Family;
    const bool idMatches =
        std::all_of(kChipIdChecks.begin(), kChipIdChecks.end(), [&](const ChipIdCheck& check) {
            return reply[check.replyByte] ==
                   TrailerByte(g_image, g_image.endBlock, check.trailerByte);
        });
    if (!idMatches) return UpgradeFailure::Check::ChipId;
    return std::nullopt;
}

std::string ReportedVersion(const QueryReply& reply) {
    std::string version;
    for (std::size_t i = kReplyVersion; i < kReplyVersion + kReplyVersionSize; ++i) {
        const std::uint8_t c = reply[i];
        if (c == 0) break;
        // The text reaches message boxes and terminals: anything but printable ASCII would be
        // invalid UTF-8 or a control sequence, so it shows as '?'.
        version += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return version;
}

bool SendFrame(DriveHandle handle, const CommandFrame& frame, PassThroughResult* result) {
    return VendorWrite(handle, CommandFrame::Size(), frame.Data(), result);
}

// Ends a run's sending phase: the machine may sleep and the buttons follow the normal rule
// again. Called before any message, which may stay on screen for long.
void StopSending(DialogServices& dlg) {
    s_run.sleepInhibitor.Release();
    dlg.LockForSending(false);
}

bool ReadyToSend(const DialogServices& dlg) {
    return UpgradeStartAccepted(dlg) && HasSendableRange(g_image) &&
           g_image.currentBlock >= g_image.startBlock && g_image.currentBlock < g_image.endBlock;
}

}  // namespace

UpgradeOutcome LastUpgradeOutcome() {
    return s_result.outcome;
}

const std::optional<std::string>& LastReportedVersion() {
    return s_result.versionBefore;
}

bool LastUpgradeFoundNoDevice() {
    return s_result.failure.kind == UpgradeFailure::Kind::NoDevice;
}

const UpgradeFailure& LastUpgradeFailure() {
    return s_result.failure;
}

const char* UpgradeOutcomeName(UpgradeOutcome outcome) {
    switch (outcome) {
        case UpgradeOutcome::None:
            return "none";
        case UpgradeOutcome::Finished:
            return "finished";
        case UpgradeOutcome::Failed:
            return "failed";
        case UpgradeOutcome::Declined:
            return "declined";
        case UpgradeOutcome::StoppedSilently:
            return "stopped";
        case UpgradeOutcome::Cancelled:
            return "cancelled";
        case UpgradeOutcome::Withheld:
            return "withheld";
    }
    return "none";
}

std::optional<UpgradeOutcome> UpgradeOutcomeFromName(const std::string& name) {
    for (UpgradeOutcome outcome :
         {UpgradeOutcome::None, UpgradeOutcome::Finished, UpgradeOutcome::Failed,
          UpgradeOutcome::Declined, UpgradeOutcome::StoppedSilently, UpgradeOutcome::Cancelled,
          UpgradeOutcome::Withheld})
        if (name == UpgradeOutcomeName(outcome)) return outcome;
    return std::nullopt;
}

bool UpgradeStartAccepted(const DialogServices& dlg) {
    return s_run.startAccepted && dlg.m_hDevice != kInvalidDrive && dlg.m_hDevice == s_run.handle;
}

void StartUpgrade(DialogServices& dlg) {
    // Whatever handle this run opens has not seen a start frame yet.
    s_run = {};
    s_result = {};
    dlg.ResetUi();
    dlg.PushValues();
    if (!HasSendableRange(g_image)) {
        Fail(dlg, kMsgBlockRangeError);
        return;
    }

    dlg.m_hDevice = FindUpgradeDrive(dlg.m_nChannel);
    if (dlg.m_hDevice == kInvalidDrive) {
        Fail(dlg, kMsgDeviceOpenFail, Failure(UpgradeFailure::Kind::NoDevice));
        return;
    }
    // From here on every stop leaves the handle open until the next ResetUi.
    PassThroughResult sent;
    if (!SendFrame(dlg.m_hDevice, CommandFrame::Query(), &sent)) {
        Fail(dlg, kMsgSendError, RequestFailed(sent));
        return;
    }
    QueryReply reply{};
    if (!VendorRead(dlg.m_hDevice, kQueryReplySize, reply.data(), &sent)) {
        Fail(dlg, kMsgReadError, RequestFailed(sent));
        return;
    }
    if (AllZero(reply, kReplyHeader, kReplyHeaderSize)) {
        s_result.outcome = UpgradeOutcome::StoppedSilently;
        return;
    }

    std::string prompt;
    if (AllZero(reply, kReplyVersion, kReplyVersionSize)) {
        // An empty device has nothing to compare with the image.
        prompt = kMsgCodeEmpty;
        s_result.versionBefore = std::string();
    } else {
        if (const auto mismatch = ChipMismatch(reply)) {
            Fail(dlg, kMsgChipTypeMismatch, CheckFailed(*mismatch));
            return;
        }
        if (reply[kReplyBootType] != TrailerByte(g_image, g_image.endBlock, kTrailerBootType)) {
            Fail(dlg, kMsgBootTypeMismatch, CheckFailed(UpgradeFailure::Check::BootType));
            return;
        }
        s_result.versionBefore = ReportedVersion(reply);
        prompt = kMsgVersionPrefix + *s_result.versionBefore + kMsgVersionSuffix;
    }
    if (!dlg.AskOkCancel(prompt)) {
        s_result.outcome = UpgradeOutcome::Declined;
        return;
    }

    dlg.Wait(kStartFrameDelayMs);
    if (!dlg.BeforeStartFrame()) {
        s_result.outcome = UpgradeOutcome::Withheld;
        return;
    }
    // Taken before the start frame, so that a slow system bus delays the frame, never the
    // blocks the device waits for once it has accepted it.
    s_run.sleepInhibitor.Acquire();
    if (!SendFrame(dlg.m_hDevice, CommandFrame::Start(g_image.startBlock, g_image.endBlock),
                   &sent)) {
        s_run.sleepInhibitor.Release();
        Fail(dlg, kMsgSendError, RequestFailed(sent));
        return;
    }
    g_image.busy = 1;
    s_run.startAccepted = true;
    s_run.handle = dlg.m_hDevice;
    dlg.LockForSending(true);
    dlg.StartBlockTimer(kFirstBlockDelayMs);
}

void SendNextBlock(DialogServices& dlg) {
    dlg.StopBlockTimer();
    if (!ReadyToSend(dlg)) {
        // No start frame on this handle (or nothing left to send): nothing goes out.
        StopSending(dlg);
        return;
    }
    const DriveHandle handle = dlg.m_hDevice;
    const std::size_t blockOffset = std::size_t{g_image.currentBlock} * kBlockSize;

    std::array<std::uint8_t, kChunkSize + 1> chunk{};
    PassThroughResult sent;
    for (unsigned i = 0; i < kBlockChunks; ++i) {
        const std::uint32_t size = i + 1 < kBlockChunks ? kChunkSize : kLastChunkSize;
        std::memcpy(chunk.data(), g_image.data + blockOffset + std::size_t{i} * kChunkSize, size);
        chunk[size] = XorCheck(chunk.data(), size);
        if (!VendorWrite(handle, size + 1, chunk.data(), &sent)) {
            StopSending(dlg);
            Fail(dlg, kMsgSendError, RequestFailed(sent));
            return;
        }
    }

    std::array<std::uint8_t, kBlockStatusSize> status{};
    if (!VendorRead(handle, kBlockStatusSize, status.data(), &sent)) {
        StopSending(dlg);
        Fail(dlg, kMsgSendError, RequestFailed(sent));
        return;
    }
    const unsigned acceptedBlock = status[kStatusBlockHigh] * 256u + status[kStatusBlockLow];
    if (status[kStatusAccepted] != kBlockAccepted || acceptedBlock != g_image.currentBlock ||
        status[kStatusZero] != 0) {
        StopSending(dlg);
        UpgradeFailure refused = Failure(UpgradeFailure::Kind::BlockRefused);
        refused.block = g_image.currentBlock;
        refused.status = status;
        Fail(dlg, kMsgSendError, std::move(refused));
        return;
    }

    dlg.StepProgress();
    ++g_image.currentBlock;
    if (g_image.currentBlock < g_image.endBlock) {
        dlg.StartBlockTimer(kNextBlockDelayMs);
        return;
    }
    s_run = {};
    StopSending(dlg);
    s_result.outcome = UpgradeOutcome::Finished;
    dlg.ShowMessage(kMsgFinishOk);
    dlg.ResetUi();
    g_image.busy = 0;
}

void CancelUpgrade(DialogServices& dlg) {
    dlg.StopBlockTimer();
    if (g_image.busy == 1) dlg.Wait(kCancelWaitMs);
    g_image.busy = 0;
    s_run = {};
    // A run that ended on its own keeps its outcome; one still going, or stopped at the
    // prompt by an interrupt, is cancelled.
    if (s_result.outcome != UpgradeOutcome::Finished &&
        s_result.outcome != UpgradeOutcome::Failed && s_result.outcome != UpgradeOutcome::Withheld)
        s_result.outcome = UpgradeOutcome::Cancelled;
    StopSending(dlg);
    dlg.ResetUi();
}
