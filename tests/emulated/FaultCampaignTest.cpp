// The fault campaign: random images and block ranges, random fault scripts from everything the
// device model can play, random Cancel moments and prompt answers, each run in-process through
// the product's real discovery, open and SG_IO against the virtual device, with the fake dialog
// standing in for the window. What must hold is checked on the device's own request log:
// - "Finish OK!" exactly when the flash holds the whole range and no fault fired;
// - blocks arrive in order, each once, only after an accepted start frame, never past endBlock;
// - after a message nothing more reaches the device.
// RC_PARAMS="max_success=N" sets the number of cases (bench/fault-soak.sh).
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "device/UpgradeProtocol.h"
#include "image/FirmwareImage.h"
#include "image/RawBinaryLoader.h"
#include "tests/support/FakeDialog.h"
#include "tests/support/ImageBuilder.h"
#include "vdev/VirtualTestbed.h"

namespace {

constexpr std::uint8_t kOpWrite = 0x86;
constexpr std::uint8_t kOpRead = 0x85;
constexpr std::uint8_t kOpIdentify = 0x87;
constexpr int kMaxTicks = 600;

// One testbed for the whole campaign; each case gets a fresh device model on it.
class CampaignBed : public ::testing::Environment {
public:
    void SetUp() override {
        bed = std::make_unique<VirtualTestbed>(std::vector<VirtualDrive>{
            VirtualTestbed::FixedDisk("sda"), VirtualTestbed::UpgradeDevice("sdb")});
    }
    void TearDown() override { bed.reset(); }
    static inline std::unique_ptr<VirtualTestbed> bed;
};
[[maybe_unused]] const auto* const s_environment =
    ::testing::AddGlobalTestEnvironment(new CampaignBed);

VirtualTestbed& Bed() {
    return *CampaignBed::bed;
}

// Notes how much the device had received when each message was shown.
class CampaignDialog : public FakeDialog {
public:
    void ShowMessage(const std::string& text) override {
        FakeDialog::ShowMessage(text);
        logAtMessage.push_back(Bed().Log("sdb").size());
    }
    std::vector<std::size_t> logAtMessage;
};

std::vector<std::uint8_t> RandomImage(std::uint16_t start, std::uint16_t end, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(std::size_t{end} * kBlockSize);
    std::mt19937 random(seed);
    std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<std::uint8_t>(random()); });
    std::memcpy(bytes.data() + std::size_t{start} * kBlockSize, "PORI", 4);
    // No earlier block may carry the marker by chance.
    for (std::size_t block = kBootBlocks; block < start; ++block) bytes[block * kBlockSize] = 0;
    PutTrailer(bytes, end, ImageLayout{});
    return bytes;
}

// A fault script of up to two faults, each aimed at or around the range so that it may or may
// not fire.
FaultScript RandomFaults(std::uint16_t start, std::uint16_t end) {
    FaultScript faults;
    const unsigned blocks = end - start;
    const auto nearBlock = [&] {
        return *rc::gen::inRange<std::uint16_t>(static_cast<std::uint16_t>(start - 1),
                                                static_cast<std::uint16_t>(end + 1));
    };
    const int count = *rc::gen::inRange(0, 3);
    for (int i = 0; i < count; ++i) {
        switch (*rc::gen::inRange(0, 9)) {
            case 0:
                faults.failCommandAt = *rc::gen::inRange(1u, 5 * blocks + 6);
                break;
            case 1:
                faults.failWriteAt = *rc::gen::inRange(1u, 4 * blocks + 4);
                break;
            case 2:
                faults.failReadAt = *rc::gen::inRange(1u, blocks + 3);
                break;
            case 3:
                faults.badStatusByte2AtBlock = nearBlock();
                break;
            case 4:
                faults.wrongBlockNumberAtBlock = nearBlock();
                break;
            case 5:
                faults.nonzeroByte5AtBlock = nearBlock();
                break;
            case 6:
                faults.unplugAfterBlock = nearBlock();
                break;
            case 7:
                faults.identifyAnswersSwapped = true;
                break;
            default:
                faults.delayMsPerCommand = 1;
                break;
        }
    }
    return faults;
}

struct Run {
    std::vector<std::uint8_t> image;
    std::uint16_t start = 0, end = 0;
    CampaignDialog dlg;
    std::vector<LoggedRequest> log;
    std::vector<std::uint8_t> flash;
    UpgradeOutcome outcome = UpgradeOutcome::None;
};

// The invariants; the first one broken, or "".
std::string Violation(const Run& run) {
    const auto& messages = run.dlg.messages;
    const bool finished = !messages.empty() && messages.back() == kMsgFinishOk;

    bool faultFired = false;
    bool started = false;
    unsigned startFrames = 0, block = 0, chunk = 0;
    for (const LoggedRequest& r : run.log) {
        const std::uint8_t op = r.cdb[0];
        if (r.outcome != RequestOutcome::Ok) faultFired = true;
        if (op == kOpIdentify &&
            (r.dataIn.size() != 2 || r.dataIn[0] != 0xAA || r.dataIn[1] != 0x55))
            faultFired = true;
        if (op == kOpWrite && r.length == 8 && r.dataOut.size() == 8 && r.dataOut[2] == 0xFF) {
            if (++startFrames > 1) return "a second start frame";
            started = r.outcome == RequestOutcome::Ok;
        } else if (op == kOpWrite && (r.length == 321 || r.length == 65)) {
            if (!started) return "a chunk before an accepted start frame";
            if (block >= static_cast<unsigned>(run.end - run.start)) return "a chunk past endBlock";
            if (r.length != (chunk < 3 ? 321u : 65u)) return "chunks out of order";
            const std::size_t at = (std::size_t{run.start} + block) * kBlockSize + chunk * 320;
            if (!std::equal(r.dataOut.begin(), r.dataOut.end() - 1,
                            run.image.begin() + static_cast<std::ptrdiff_t>(at)))
                return "block " + std::to_string(run.start + block) + " chunk " +
                       std::to_string(chunk) + " does not carry its image bytes";
            ++chunk;
        } else if (op == kOpRead && r.length == 8) {
            if (chunk != 4) return "a block status read before four chunks";
            const auto& s = r.dataIn;
            const unsigned named = s.size() == 8 ? s[3] * 256u + s[4] : ~0u;
            if (s.size() != 8 || s[2] != 0xFF || s[5] != 0 || named != run.start + block)
                faultFired = true;
            ++block;
            chunk = 0;
        }
    }
    bool flashHolds = run.flash.size() == kImageSize;
    const std::ptrdiff_t first = std::ptrdiff_t{run.start} * kBlockSize;
    const std::ptrdiff_t last = std::ptrdiff_t{run.end} * kBlockSize;
    flashHolds = flashHolds && std::equal(run.image.begin() + first, run.image.begin() + last,
                                          run.flash.begin() + first);
    if (finished != (flashHolds && !faultFired))
        return std::string("Finish OK! ") + (finished ? "shown" : "not shown") + " with flash " +
               (flashHolds ? "complete" : "incomplete") + " and " + (faultFired ? "a" : "no") +
               " fault fired";
    if (finished != (run.outcome == UpgradeOutcome::Finished))
        return std::string("outcome ") + UpgradeOutcomeName(run.outcome) + " beside message " +
               (messages.empty() ? "none" : messages.back());
    if (!finished && !messages.empty() && run.outcome != UpgradeOutcome::Failed)
        return std::string("outcome ") + UpgradeOutcomeName(run.outcome) + " after a failure";
    if (finished && block != static_cast<unsigned>(run.end - run.start)) return "finished early";
    if (messages.size() > 1) return "more than one message: " + messages[0] + ", " + messages[1];
    if (!run.dlg.logAtMessage.empty() && run.dlg.logAtMessage[0] != run.log.size())
        return "requests after the message " + messages[0];
    return {};
}

}  // namespace

RC_GTEST_PROP(FaultCampaign, InvariantsHoldOnTheDeviceLog, ()) {
    Run run;
    run.start = *rc::gen::inRange<std::uint16_t>(16, 64);
    run.end = static_cast<std::uint16_t>(run.start + *rc::gen::inRange(1, 25));
    run.image = RandomImage(run.start, run.end, *rc::gen::arbitrary<std::uint32_t>());
    const FaultScript faults = RandomFaults(run.start, run.end);
    const bool confirm = *rc::gen::weightedElement<bool>({{1, false}, {9, true}});
    // One run in five is cancelled, at a random tick (possibly after the last one).
    const bool cancels = *rc::gen::weightedElement<bool>({{1, true}, {4, false}});
    const int cancelAt = cancels ? *rc::gen::inRange(0, run.end - run.start + 1) : -1;

    std::memset(&g_image, 0, sizeof g_image);
    TempDir dir;
    WriteBytes(dir.File("image.bin"), run.image);
    RC_ASSERT(LoadProgramBinaryFrom(run.dlg, dir.File("image.bin")));
    run.dlg.messages.clear();
    Bed().WithModel("sdb", [&](DeviceModel& model) { model = DeviceModel({}, faults); });

    run.dlg.okCancelAnswers.push_back(confirm);
    StartUpgrade(run.dlg);
    for (int tick = 0; run.dlg.timerInterval && tick < kMaxTicks; ++tick) {
        if (tick == cancelAt) {
            CancelUpgrade(run.dlg);
            break;
        }
        SendNextBlock(run.dlg);
    }
    run.log = Bed().Log("sdb");
    run.flash = Bed().Flash("sdb");
    run.outcome = LastUpgradeOutcome();
    CancelUpgrade(run.dlg);  // closes the handle before the next case
    RC_TAG(run.dlg.messages.empty() ? std::string("no message") : run.dlg.messages.back());
    RC_TAG(faults.failCommandAt || faults.failWriteAt || faults.failReadAt ||
                   faults.badStatusByte2AtBlock || faults.wrongBlockNumberAtBlock ||
                   faults.nonzeroByte5AtBlock || faults.unplugAfterBlock ||
                   faults.identifyAnswersSwapped
               ? "faults"
               : "no faults");
    RC_ASSERT(Violation(run) == std::string());
}
