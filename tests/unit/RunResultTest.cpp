// DecideRun, the one decision of how a run ended: every code it can give, with its detail and
// the exit status `upgrade` returns for it, from the ends a run in this process or in a child
// can have.
#include "line/RunResult.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

UpgradeFailure Refused(unsigned block) {
    UpgradeFailure failure;
    failure.kind = UpgradeFailure::Kind::BlockRefused;
    failure.block = block;
    failure.status = {0x01, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0xA0};
    return failure;
}

UpgradeFailure Request(UpgradeFailure::Kind kind, const char* osError) {
    UpgradeFailure failure;
    failure.kind = kind;
    failure.osError = osError;
    return failure;
}

UpgradeFailure Check(UpgradeFailure::Check check) {
    UpgradeFailure failure;
    failure.kind = UpgradeFailure::Kind::CheckFailed;
    failure.check = check;
    return failure;
}

RunEnd Ended(UpgradeOutcome outcome, StartVerdict verdict = StartVerdict::Recorded) {
    RunEnd end;
    end.outcome = outcome;
    end.startVerdict = verdict;
    return end;
}

RunEnd With(RunEnd end, const std::function<void(RunEnd&)>& change) {
    change(end);
    return end;
}

UpgradeFailure Only(UpgradeFailure::Kind kind) {
    UpgradeFailure failure;
    failure.kind = kind;
    return failure;
}

RunEnd Failed(UpgradeFailure failure) {
    RunEnd end;
    end.outcome = UpgradeOutcome::Failed;
    end.failure = std::move(failure);
    return end;
}

// A child's run as its parent sees it: exit status, whether it reported, and what it said.
RunEnd Child(UpgradeOutcome outcome, int status, bool reported = true, std::string code = {},
             std::string detail = {}) {
    RunEnd end;
    end.outcome = outcome;
    end.childStatus = status;
    end.childReported = reported;
    end.childCode = std::move(code);
    end.childDetail = std::move(detail);
    return end;
}

struct Case {
    const char* name;
    std::function<RunEnd()> end;
    RunResult::Kind kind;
    const char* code;
    const char* detail;
    int exitStatus;  // with an interrupt status of 130
};

}  // namespace

TEST(DecideRun, EveryCodeWithItsDetailAndExitStatus) {
    using Kind = RunResult::Kind;
    using Failure = UpgradeFailure::Kind;
    const Case cases[] = {
        {"finished", [] { return Ended(UpgradeOutcome::Finished); }, Kind::Ok, "ok", "", 0},
        {"declined", [] { return Ended(UpgradeOutcome::Declined); }, Kind::Declined, "declined", "",
         3},
        {"cancelled", [] { return Ended(UpgradeOutcome::Cancelled); }, Kind::Cancelled, "cancelled",
         "", 130},
        {"interrupted at the prompt",
         [] {
             return With(Ended(UpgradeOutcome::Declined), [](RunEnd& e) { e.interrupted = true; });
         },
         Kind::Cancelled, "cancelled", "", 130},
        {"held by another station",
         [] { return Ended(UpgradeOutcome::Withheld, StartVerdict::Refused); }, Kind::LeftAlone,
         "left-alone", "", 1},
        {"database away", [] { return Ended(UpgradeOutcome::None, StartVerdict::Deferred); },
         Kind::LeftAlone, "left-alone", "", 1},
        {"block refused", [] { return Failed(Refused(17)); }, Kind::Failed, "block-refused",
         "block 17, status 01 00 00 00 11 00 00 A0", 1},
        {"device gone", [] { return Failed(Request(Failure::DeviceGone, "ENODEV")); }, Kind::Failed,
         "device-gone", "ENODEV", 1},
        {"I/O error", [] { return Failed(Request(Failure::IoError, "EIO")); }, Kind::Failed,
         "io-error", "EIO", 1},
        {"family", [] { return Failed(Check(UpgradeFailure::Check::Family)); }, Kind::Failed,
         "check-failed", "family", 1},
        {"chip id", [] { return Failed(Check(UpgradeFailure::Check::ChipId)); }, Kind::Failed,
         "check-failed", "chip id", 1},
        {"boot type", [] { return Failed(Check(UpgradeFailure::Check::BootType)); }, Kind::Failed,
         "check-failed", "boot type", 1},
        {"no device", [] { return Failed(Only(Failure::NoDevice)); }, Kind::Failed, "no-device", "",
         1},
        {"no device, from a child",
         [] {
             RunEnd end = Child(UpgradeOutcome::Failed, 1, true, "no-device");
             end.noDevice = true;
             return end;
         },
         Kind::Failed, "no-device", "", 1},
        {"failed without a cause", [] { return Failed({}); }, Kind::Failed, "failed", "", 1},
        {"empty query reply", [] { return Ended(UpgradeOutcome::StoppedSilently); }, Kind::Failed,
         "empty-query-reply", "", 3},
        {"start not recorded", [] { return Ended(UpgradeOutcome::Withheld, StartVerdict::Failed); },
         Kind::Failed, "not-recorded", "", 1},
        {"end not recorded",
         [] {
             return With(Ended(UpgradeOutcome::Finished), [](RunEnd& e) { e.notRecorded = true; });
         },
         Kind::Failed, "not-recorded", "", 1},
        {"image changed", [] { return With(RunEnd{}, [](RunEnd& e) { e.imageChanged = true; }); },
         Kind::Failed, "image-changed", "", 1},
        {"no outcome", [] { return RunEnd{}; }, Kind::Failed, "failed", "", 1},
        // The parent's view of a child.
        {"child finished and exited 1",
         [] { return Child(UpgradeOutcome::Finished, 1, true, "ok"); }, Kind::Failed, "failed",
         "status 1", 1},
        {"child finished and exited 0",
         [] { return Child(UpgradeOutcome::Finished, 0, true, "ok"); }, Kind::Ok, "ok", "", 0},
        {"child killed", [] { return Child(UpgradeOutcome::Finished, 128 + 9, true, "ok"); },
         Kind::Failed, "killed", "signal 9", 1},
        {"child hung up", [] { return Child(UpgradeOutcome::None, 128 + 1, false); },
         Kind::Cancelled, "cancelled", "", 130},
        {"child terminated", [] { return Child(UpgradeOutcome::None, 128 + 15, false); },
         Kind::Cancelled, "cancelled", "", 130},
        {"child ended without a report", [] { return Child(UpgradeOutcome::None, 2, false); },
         Kind::Failed, "child-failed", "status 2", 1},
        {"child's refused block",
         [] {
             return Child(UpgradeOutcome::Failed, 1, true, "block-refused",
                          "block 9, status 00 00 00 00 00 00 00 00");
         },
         Kind::Failed, "block-refused", "block 9, status 00 00 00 00 00 00 00 00", 1},
        {"child's device gone",
         [] { return Child(UpgradeOutcome::Failed, 1, true, "device-gone", "ENODEV"); },
         Kind::Failed, "device-gone", "ENODEV", 1},
        {"child's unknown code is no cause",
         [] { return Child(UpgradeOutcome::Failed, 1, true, "made-up", "x"); }, Kind::Failed,
         "failed", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RunResult result = DecideRun(c.end());
        EXPECT_EQ(result.kind, c.kind);
        EXPECT_STREQ(result.code, c.code);
        EXPECT_EQ(result.detail, c.detail);
        EXPECT_EQ(result.ExitStatus(130), c.exitStatus);
    }
}
