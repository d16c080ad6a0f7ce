#include "line/RunResult.h"

#include <cstdio>
#include <string_view>

namespace {

constexpr int kFirstSignalStatus = 128;
constexpr int kHungUp = 129, kInterrupted = 130, kTerminated = 143;

// The codes of a failure the device itself caused; a parent keeps a child's code and detail
// for these.
constexpr const char* kDeviceFailureCodes[] = {"block-refused", "device-gone", "io-error",
                                               "check-failed"};

RunResult Make(RunResult::Kind kind, const char* code, std::string cause = {},
               std::string detail = {}) {
    RunResult result;
    result.kind = kind;
    result.code = code;
    result.cause = std::move(cause);
    result.detail = std::move(detail);
    return result;
}

std::string BlockRefusedDetail(const UpgradeFailure& failure) {
    std::string detail = "block " + std::to_string(failure.block) + ", status";
    for (std::uint8_t byte : failure.status) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", static_cast<unsigned>(byte));
        detail += hex;
    }
    return detail;
}

const char* CheckName(UpgradeFailure::Check check) {
    switch (check) {
        case UpgradeFailure::Check::Family:
            return "family";
        case UpgradeFailure::Check::ChipId:
            return "chip id";
        case UpgradeFailure::Check::BootType:
            return "boot type";
    }
    return "family";
}

// A failure the protocol showed a message for, by its cause.
RunResult Failed(const RunEnd& end) {
    using Kind = RunResult::Kind;
    using Failure = UpgradeFailure::Kind;
    const UpgradeFailure& failure = end.failure;
    switch (failure.kind) {
        case Failure::NoDevice:
            return Make(Kind::Failed, "no-device");
        case Failure::BlockRefused:
            return Make(Kind::Failed, "block-refused", {}, BlockRefusedDetail(failure));
        case Failure::DeviceGone:
            return Make(Kind::Failed, "device-gone", {}, failure.osError);
        case Failure::IoError:
            return Make(Kind::Failed, "io-error", {}, failure.osError);
        case Failure::CheckFailed:
            return Make(Kind::Failed, "check-failed", {}, CheckName(failure.check));
        case Failure::None:
            break;
    }
    if (end.noDevice) return Make(Kind::Failed, "no-device");
    // A child's run: the cause as the child read it from its device.
    for (const char* code : kDeviceFailureCodes)
        if (end.childCode == code) return Make(Kind::Failed, code, {}, end.childDetail);
    return Make(Kind::Failed, "failed");
}

}  // namespace

RunResult DecideRun(const RunEnd& end) {
    using Kind = RunResult::Kind;
    if (end.imageChanged)
        return Make(Kind::Failed, "image-changed",
                    "the file changed after it was approved; the unit was not flashed");
    if (end.startVerdict == StartVerdict::Deferred || end.startVerdict == StartVerdict::Refused)
        return Make(Kind::LeftAlone, "left-alone");
    if (end.startVerdict == StartVerdict::Failed)
        return Make(Kind::Failed, "not-recorded", "the run could not be recorded");
    // A run whose record is incomplete failed, however it went on the device.
    if (end.notRecorded) return Make(Kind::Failed, "not-recorded", "the run could not be recorded");
    const std::optional<int>& status = end.childStatus;
    const bool signalled = status && *status > kFirstSignalStatus;
    // A hang-up, Ctrl-C or SIGTERM is a cancel the child carried out; any other signal, or a
    // child that never said how its run ended, is a failure whatever it had reported.
    if (end.interrupted || end.outcome == UpgradeOutcome::Cancelled ||
        (signalled && (*status == kHungUp || *status == kInterrupted || *status == kTerminated)))
        return Make(Kind::Cancelled, "cancelled", "cancelled");
    if (signalled)
        return Make(
            Kind::Failed, "killed",
            "the run's process was ended by signal " + std::to_string(*status - kFirstSignalStatus),
            "signal " + std::to_string(*status - kFirstSignalStatus));
    if (status && !end.childReported)
        return Make(Kind::Failed, "child-failed",
                    "the run's process ended with status " + std::to_string(*status) +
                        " without saying how the run ended",
                    "status " + std::to_string(*status));
    switch (end.outcome) {
        case UpgradeOutcome::Finished:
            // A child whose run finished but whose status says otherwise failed after it.
            if (status && *status != kExitOk)
                return Make(Kind::Failed, "failed",
                            "the run's process ended with status " + std::to_string(*status),
                            "status " + std::to_string(*status));
            return Make(Kind::Ok, "ok");
        case UpgradeOutcome::Declined:
            return Make(Kind::Declined, "declined");
        case UpgradeOutcome::StoppedSilently:
            // The dialog stops here without a word; a line needs to know the unit was not done.
            return Make(Kind::Failed, "empty-query-reply", "the device's query reply was empty");
        case UpgradeOutcome::Failed:
            return Failed(end);
        case UpgradeOutcome::Withheld:
            return Make(Kind::Failed, "not-recorded", "the run could not be recorded");
        case UpgradeOutcome::None:
        case UpgradeOutcome::Cancelled:
            break;
    }
    return Make(Kind::Failed, "failed", "the run ended without an outcome");
}

const char* RunResult::Name() const {
    switch (kind) {
        case Kind::Ok:
            return "ok";
        case Kind::Failed:
            return "failed";
        case Kind::Declined:
            return "declined";
        case Kind::Cancelled:
            return "cancelled";
        case Kind::LeftAlone:
            break;
    }
    return "";
}

int RunResult::ExitStatus(int interruptStatus) const {
    switch (kind) {
        case Kind::Ok:
            return kExitOk;
        case Kind::Declined:
            return kExitDeclined;
        case Kind::Cancelled:
            return interruptStatus;
        case Kind::Failed:
        case Kind::LeftAlone:  // the unit was not flashed here
            break;
    }
    // Scripts have always read 3 for a device that stopped at its query reply.
    return std::string_view(code) == "empty-query-reply" ? kExitDeclined : kExitFailure;
}
