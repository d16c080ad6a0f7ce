// The upgrade protocol against the virtual device: the product's own discovery, open and SG_IO
// run against a umockdev testbed, and the fake dialog stands in for the window. Ticks of the
// block timer are delivered by calling SendNextBlock while the fake timer is armed.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "app/ControlIds.h"
#include "device/CommandFrame.h"
#include "device/UpgradeProtocol.h"
#include "image/FirmwareImage.h"
#include "image/RawBinaryLoader.h"
#include "tests/support/FakeDialog.h"
#include "tests/support/ImageBuilder.h"
#include "vdev/VirtualTestbed.h"

namespace {

// Offset of a block in image and flash copies.
constexpr std::ptrdiff_t Block(std::ptrdiff_t block) {
    return block * std::ptrdiff_t{kBlockSize};
}

constexpr std::uint8_t kOpWrite = 0x86;
constexpr std::uint8_t kOpRead = 0x85;

bool IsOpen(DriveHandle fd) {
    return ::fcntl(static_cast<int>(fd), F_GETFD) != -1;
}

class UpgradeProtocol : public ::testing::Test {
protected:
    void SetUp() override { std::memset(&g_image, 0, sizeof g_image); }

    void TearDown() override {
        // Handles on the nodes go before the testbed does.
        dlg.ResetUi();
        m_testbed.reset();
    }

    // Loads an image through the real loader, so path, range and buttons are as after Browse.
    void Load(const ImageLayout& layout = {}) {
        m_imageBytes = BuildRawImage(layout);
        const std::string path = m_dir.File("image.bin");
        WriteBytes(path, m_imageBytes);
        ASSERT_TRUE(LoadProgramBinaryFrom(dlg, path));
        dlg.messages.clear();
    }

    void Attach(const DeviceConfig& config = {}, const FaultScript& faults = {}) {
        AttachDrives({VirtualTestbed::FixedDisk("sda"),
                      VirtualTestbed::UpgradeDevice("sdb", config, faults)});
    }

    void AttachDrives(std::vector<VirtualDrive> drives) {
        m_testbed = std::make_unique<VirtualTestbed>(std::move(drives));
    }

    // Upgrade pressed, the prompt answered with ok.
    void Start(bool ok = true) {
        dlg.okCancelAnswers.push_back(ok);
        StartUpgrade(dlg);
    }

    // Delivers ticks while the timer is armed; returns how many ran.
    int RunTicks(int limit = 600) {
        int ticks = 0;
        while (dlg.timerInterval && ticks < limit) {
            SendNextBlock(dlg);
            ++ticks;
        }
        return ticks;
    }

    std::vector<LoggedRequest> Log() { return m_testbed->Log("sdb"); }

    // The requests after the identify that found the device.
    std::vector<LoggedRequest> ProtocolRequests() {
        std::vector<LoggedRequest> out;
        for (const auto& r : Log()) {
            if (r.cdb[0] == kOpWrite || r.cdb[0] == kOpRead) out.push_back(r);
        }
        return out;
    }

    void ExpectButtonsNormal() {
        for (int id : {IDC_BROWSE, IDC_UPGRADE, IDC_CANCEL_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY})
            EXPECT_TRUE(dlg.Enabled(id)) << "button " << id;
    }

    FakeDialog dlg;
    TempDir m_dir;
    std::vector<std::uint8_t> m_imageBytes;
    std::unique_ptr<VirtualTestbed> m_testbed;
};

// A fault script with one fault set.
template <typename T>
FaultScript Fault(std::optional<T> FaultScript::*field, std::type_identity_t<T> value) {
    FaultScript faults;
    faults.*field = value;
    return faults;
}

std::vector<std::uint8_t> Frame(std::initializer_list<std::uint8_t> bytes) {
    return bytes;
}

}  // namespace

TEST_F(UpgradeProtocol, OneBlockImageGoesInOneTick) {
    Load({.startBlock = 16, .endBlock = 17});
    Attach();
    Start();
    ASSERT_TRUE(dlg.messages.empty());
    EXPECT_EQ(dlg.prompts, std::vector<std::string>{"Current Version is V1.0.0, Continue?"});
    EXPECT_EQ(dlg.waits, std::vector<unsigned>{100});
    EXPECT_EQ(dlg.timerStarts, std::vector<unsigned>{100});
    EXPECT_EQ(g_image.busy, 1);

    const std::size_t before = ProtocolRequests().size();
    EXPECT_EQ(RunTicks(), 1);
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Finish OK!"});
    EXPECT_EQ(g_image.busy, 0);
    EXPECT_EQ(dlg.m_hDevice, kInvalidDrive);
    EXPECT_EQ(dlg.timerStarts, std::vector<unsigned>{100});  // no re-arm after the last block

    const auto requests = ProtocolRequests();
    ASSERT_EQ(requests.size(), before + 5);
    std::vector<std::uint32_t> lengths;
    for (std::size_t i = before; i < requests.size(); ++i) lengths.push_back(requests[i].length);
    EXPECT_EQ(lengths, (std::vector<std::uint32_t>{321, 321, 321, 65, 8}));
    EXPECT_EQ(requests.back().cdb[0], kOpRead);
    m_testbed->WithModel("sdb", [](DeviceModel& m) { EXPECT_EQ(m.BlocksAccepted(), 1u); });
}

TEST_F(UpgradeProtocol, FullImageArrivesByteExactWithTheRightPacing) {
    Load({.startBlock = 16, .endBlock = 512});
    Attach();
    Start();
    EXPECT_EQ(RunTicks(), 496);
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Finish OK!"});

    // 100 ms before the first block, 15 ms after each of the others.
    std::vector<unsigned> pacing{100};
    pacing.insert(pacing.end(), 495, 15);
    EXPECT_EQ(dlg.timerStarts, pacing);

    const auto flash = m_testbed->Flash("sdb");
    ASSERT_EQ(flash.size(), kImageSize);
    EXPECT_TRUE(
        std::equal(flash.begin() + Block(16), flash.end(), m_imageBytes.begin() + Block(16)));
    // The boot area is never sent.
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + Block(16),
                            [](std::uint8_t b) { return b == 0xFF; }));

    // endBlock 512 packs into p1's low nibble (2) and p2 (0).
    const auto requests = ProtocolRequests();
    const auto start = std::find_if(requests.begin(), requests.end(), [](const LoggedRequest& r) {
        return r.dataOut.size() == 8 && r.dataOut[2] == 0xFF;
    });
    ASSERT_NE(start, requests.end());
    EXPECT_EQ(start->dataOut[4] & 0x0F, 2);
    EXPECT_EQ(start->dataOut[5], 0);
}

TEST_F(UpgradeProtocol, QueryAndStartFramesOnTheWire) {
    Load({.startBlock = 16, .endBlock = 100});
    Attach();
    Start();
    const auto requests = ProtocolRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].dataOut, Frame({0xF6, 0x00, 0xE8, 0x00, 0x00, 0x00, 0xE8, 0xF6}));
    EXPECT_EQ(requests[1].cdb[0], kOpRead);
    EXPECT_EQ(requests[1].length, 27u);
    EXPECT_EQ(requests[2].dataOut, Frame({0xF6, 0x00, 0xFF, 0x01, 0x00, 0x64, 0x9A, 0xF6}));
}

TEST_F(UpgradeProtocol, LastChunkChecksOnlyItsOwnBytes) {
    Load({.startBlock = 16, .endBlock = 17});
    Attach();
    Start();
    RunTicks();
    const auto requests = ProtocolRequests();
    const LoggedRequest& last = requests[requests.size() - 2];
    ASSERT_EQ(last.dataOut.size(), 65u);
    const std::uint8_t* block = m_imageBytes.data() + Block(16);
    EXPECT_TRUE(std::equal(block + 960, block + 1024, last.dataOut.begin()));
    const std::uint8_t own = XorCheck(block + 960, 64);
    ASSERT_NE(own, XorCheck(block, 1024));  // the image tells the two apart
    EXPECT_EQ(last.dataOut[64], own);
    for (std::size_t i = requests.size() - 5; i < requests.size() - 2; ++i) {
        ASSERT_EQ(requests[i].dataOut.size(), 321u);
        EXPECT_EQ(requests[i].dataOut[320], XorCheck(requests[i].dataOut.data(), 320));
    }
}

TEST_F(UpgradeProtocol, NoDeviceAnswering) {
    Load();
    AttachDrives({VirtualTestbed::FixedDisk("sda"), VirtualTestbed::OrdinaryDrive("sdb")});
    Start();
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Device Open Fail!"});
    EXPECT_EQ(dlg.m_hDevice, kInvalidDrive);
    EXPECT_TRUE(dlg.prompts.empty());
}

TEST_F(UpgradeProtocol, FailuresBeforeTheStartFrameKeepTheHandleUntilTheNextReset) {
    struct Case {
        const char* name;
        FaultScript faults;
        bool answer;
        const char* message;
        std::size_t requests;  // protocol requests that reached the model
    };
    const Case cases[] = {
        {"query frame", Fault(&FaultScript::failWriteAt, 1), true, "Send Error!", 1},
        {"query reply", Fault(&FaultScript::failReadAt, 1), true, "Read Error!", 2},
        {"start frame", Fault(&FaultScript::failWriteAt, 2), true, "Send Error!", 3},
        {"declined", {}, false, nullptr, 2},
    };
    Load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dlg = FakeDialog{};
        dlg.m_strProgramFile = "image.bin";
        Attach({}, c.faults);
        Start(c.answer);
        EXPECT_EQ(dlg.messages,
                  c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{});
        EXPECT_EQ(ProtocolRequests().size(), c.requests);
        EXPECT_EQ(g_image.busy, 0);
        EXPECT_FALSE(dlg.timerInterval);
        EXPECT_FALSE(UpgradeStartAccepted(dlg));

        const DriveHandle handle = dlg.m_hDevice;
        ASSERT_NE(handle, kInvalidDrive);
        EXPECT_TRUE(IsOpen(handle));
        dlg.ResetUi();
        EXPECT_EQ(dlg.m_hDevice, kInvalidDrive);
        EXPECT_FALSE(IsOpen(handle));
        m_testbed.reset();
    }
}

TEST_F(UpgradeProtocol, ChipChecksInOrderThenBoot) {
    struct Case {
        const char* name;
        DeviceConfig config;
        const char* message;
    };
    auto chip = [](unsigned i) {
        DeviceConfig config;
        config.chipId[i] ^= 0x20;
        return config;
    };
    const Case cases[] = {
        {"family", {.family = "SD"}, "Chip Type Mismatch!"},
        {"byte 19", chip(0), "Chip Type Mismatch!"},
        {"byte 20", chip(1), "Chip Type Mismatch!"},
        {"byte 21", chip(2), "Chip Type Mismatch!"},
        {"byte 23", chip(3), "Chip Type Mismatch!"},
        {"byte 24", chip(4), "Chip Type Mismatch!"},
        {"chip and boot",
         {.chipId = {0x41, 0x42, 0x43, 0x44, 0x00}, .bootType = 7},
         "Chip Type Mismatch!"},
        {"boot", {.bootType = 7}, "Boot Type Mismatch!"},
    };
    Load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dlg.messages.clear();
        dlg.prompts.clear();
        Attach(c.config);
        Start();
        EXPECT_EQ(dlg.messages, std::vector<std::string>{c.message});
        EXPECT_TRUE(dlg.prompts.empty());
        EXPECT_EQ(ProtocolRequests().size(), 2u);  // query and reply, nothing more
        dlg.ResetUi();
        m_testbed.reset();
    }
}

TEST_F(UpgradeProtocol, FamilyIsCheckedForValidityNotAgainstTheImage) {
    Load({.family = "ST"});
    Attach({.family = "HC", .version = "V2.0.1"});
    Start();
    EXPECT_TRUE(dlg.messages.empty());
    EXPECT_EQ(dlg.prompts, std::vector<std::string>{"Current Version is V2.0.1, Continue?"});
}

TEST_F(UpgradeProtocol, VersionPromptTakesAtMostEightCharacters) {
    Load();
    Attach({.version = "ABCDEFGHIJ"});
    Start(false);
    EXPECT_EQ(dlg.prompts, std::vector<std::string>{"Current Version is ABCDEFGH, Continue?"});
}

TEST_F(UpgradeProtocol, EmptyDeviceSkipsEveryCheck) {
    Load();
    Attach({.family = "XX", .chipId = {0, 0, 0, 0, 0}, .bootType = 9, .version = ""});
    Start();
    EXPECT_TRUE(dlg.messages.empty());
    EXPECT_EQ(dlg.prompts, std::vector<std::string>{"Code Empty, Continue?"});
    EXPECT_TRUE(UpgradeStartAccepted(dlg));
    EXPECT_EQ(RunTicks(), 84);
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Finish OK!"});
}

TEST_F(UpgradeProtocol, AllZeroHeaderStopsSilently) {
    Load();
    Attach({.header = {}});
    Start();
    EXPECT_TRUE(dlg.messages.empty());
    EXPECT_TRUE(dlg.prompts.empty());
    EXPECT_EQ(ProtocolRequests().size(), 2u);
    EXPECT_NE(dlg.m_hDevice, kInvalidDrive);
}

TEST_F(UpgradeProtocol, EveryFaultDuringSendingStalls) {
    struct Case {
        const char* name;
        FaultScript faults;
        std::uint16_t failedBlock;
    };
    // Only FF accepts a block: 0x7F is neither the accepted nor the plain refused byte.
    FaultScript halfAccepted = Fault(&FaultScript::badStatusByte2AtBlock, 18);
    halfAccepted.badStatusByte2 = 0x7F;
    // Writes 1 and 2 are the query and start frames; read 1 the query reply.
    const Case cases[] = {
        {"chunk 0", Fault(&FaultScript::failWriteAt, 3), 16},
        {"chunk 1", Fault(&FaultScript::failWriteAt, 4), 16},
        {"chunk 2", Fault(&FaultScript::failWriteAt, 5), 16},
        {"chunk 3", Fault(&FaultScript::failWriteAt, 6), 16},
        {"status read", Fault(&FaultScript::failReadAt, 3), 17},
        {"status byte 2", Fault(&FaultScript::badStatusByte2AtBlock, 18), 18},
        {"status byte 2 neither FF nor 00", halfAccepted, 18},
        {"block number", Fault(&FaultScript::wrongBlockNumberAtBlock, 18), 18},
        {"status byte 5", Fault(&FaultScript::nonzeroByte5AtBlock, 18), 18},
        {"unplugged", Fault(&FaultScript::unplugAfterBlock, 20), 21},
    };
    Load();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dlg.messages.clear();
        dlg.waits.clear();
        Attach({}, c.faults);
        Start();
        ASSERT_TRUE(dlg.timerInterval);
        RunTicks();
        EXPECT_EQ(dlg.messages, std::vector<std::string>{"Send Error!"});
        // Stalled: nothing resumes, the failed block is still current, the run is still busy.
        EXPECT_FALSE(dlg.timerInterval);
        EXPECT_EQ(g_image.currentBlock, c.failedBlock);
        EXPECT_EQ(g_image.busy, 1);
        EXPECT_EQ(dlg.progressPos, c.failedBlock);
        ExpectButtonsNormal();

        const DriveHandle handle = dlg.m_hDevice;
        EXPECT_TRUE(IsOpen(handle));
        CancelUpgrade(dlg);
        EXPECT_EQ(dlg.waits, (std::vector<unsigned>{100, 2000}));
        EXPECT_EQ(g_image.busy, 0);
        EXPECT_FALSE(IsOpen(handle));
        m_testbed.reset();
    }
}

TEST_F(UpgradeProtocol, StatusNamingThePreviousBlockIsRefused) {
    Load();
    Attach({}, Fault(&FaultScript::wrongBlockNumberAtBlock, 16));
    Start();
    RunTicks();
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Send Error!"});
    EXPECT_EQ(g_image.currentBlock, 16);
}

TEST_F(UpgradeProtocol, CancelWaitsOnlyWhenBusy) {
    Load();
    Attach();
    CancelUpgrade(dlg);  // idle
    EXPECT_TRUE(dlg.waits.empty());

    Start();
    SendNextBlock(dlg);
    SendNextBlock(dlg);
    ASSERT_TRUE(dlg.timerInterval);
    const DriveHandle handle = dlg.m_hDevice;
    CancelUpgrade(dlg);  // sending
    EXPECT_EQ(dlg.waits, (std::vector<unsigned>{100, 2000}));
    EXPECT_FALSE(dlg.timerInterval);
    EXPECT_EQ(g_image.busy, 0);
    EXPECT_EQ(g_image.currentBlock, g_image.startBlock);
    EXPECT_FALSE(IsOpen(handle));
    ExpectButtonsNormal();

    // After the cancel a tick that was already due sends nothing.
    const std::size_t before = ProtocolRequests().size();
    SendNextBlock(dlg);
    EXPECT_EQ(ProtocolRequests().size(), before);
}

TEST_F(UpgradeProtocol, UpgradeFromStalledKeepsBusy) {
    Load();
    Attach({}, Fault(&FaultScript::failReadAt, 2));
    Start();
    RunTicks();
    ASSERT_EQ(dlg.messages, std::vector<std::string>{"Send Error!"});
    ASSERT_EQ(g_image.busy, 1);

    // Upgrade again, declined at the prompt: the new run never starts, yet busy stays.
    Start(false);
    EXPECT_EQ(g_image.busy, 1);
    EXPECT_FALSE(UpgradeStartAccepted(dlg));
    dlg.waits.clear();
    CancelUpgrade(dlg);
    EXPECT_EQ(dlg.waits, std::vector<unsigned>{2000});
    EXPECT_EQ(g_image.busy, 0);
}

TEST_F(UpgradeProtocol, ButtonsLockedWhileSendingAndRestoredAfterFinish) {
    Load({.startBlock = 16, .endBlock = 18});
    Attach();
    Start();
    for (int id : {IDC_BROWSE, IDC_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY})
        EXPECT_FALSE(dlg.Enabled(id)) << "button " << id;
    EXPECT_TRUE(dlg.Enabled(IDC_CANCEL_UPGRADE));
    SendNextBlock(dlg);
    EXPECT_FALSE(dlg.Enabled(IDC_BROWSE));
    SendNextBlock(dlg);
    ASSERT_EQ(dlg.messages, std::vector<std::string>{"Finish OK!"});
    ExpectButtonsNormal();
}

TEST_F(UpgradeProtocol, TickWithoutStartFrameSendsNothing) {
    Load();
    Attach();
    Start(false);  // the handle is open but never got a start frame
    ASSERT_NE(dlg.m_hDevice, kInvalidDrive);
    const std::size_t before = ProtocolRequests().size();
    SendNextBlock(dlg);
    EXPECT_EQ(ProtocolRequests().size(), before);
    EXPECT_TRUE(dlg.messages.empty());
    EXPECT_FALSE(dlg.timerInterval);

    // A handle opened some other way is no better.
    dlg.ResetUi();
    dlg.m_hDevice = ::open("/dev/sdb", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_NE(dlg.m_hDevice, kInvalidDrive);
    SendNextBlock(dlg);
    EXPECT_EQ(ProtocolRequests().size(), before);
}

TEST_F(UpgradeProtocol, RunNeedsASendableRange) {
    Load();
    Attach();
    g_image.startBlock = 512;  // what a range without blocks looks like
    g_image.endBlock = 512;
    Start();
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Block Range Error!"});
    EXPECT_EQ(m_testbed->OpenCount("sdb"), 0u);
    EXPECT_EQ(dlg.m_hDevice, kInvalidDrive);
}
