// The sleep inhibitor against logind's own D-Bus interface, mocked by python3-dbusmock's logind
// template on a private bus that stands in for the system bus: taken when sending starts,
// released on every way a run ends. The upgrade runs in-process against the virtual device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "device/UpgradeProtocol.h"
#include "image/FirmwareImage.h"
#include "image/RawBinaryLoader.h"
#include "tests/support/FakeDialog.h"
#include "tests/support/ImageBuilder.h"
#include "vdev/VirtualTestbed.h"

extern char** environ;

namespace {

using Inhibitor =
    std::tuple<std::string, std::string, std::string, std::string>;  // what, who, why, mode

pid_t Spawn(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    return error == 0 ? pid : -1;
}

void Stop(pid_t& pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

// The inhibitors the mocked logind holds, or nothing when it does not answer.
std::optional<std::vector<Inhibitor>> ListInhibitors() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return std::nullopt;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    std::optional<std::vector<Inhibitor>> out;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors", &error, &reply,
                           "") >= 0 &&
        sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
        out.emplace();
        const char *what, *who, *why, *mode;
        std::uint32_t uid, pid;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0)
            out->emplace_back(what, who, why, mode);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_flush_close_unref(bus);
    return out;
}

// The mock drops an inhibitor when it sees the descriptor hang up, a moment after the close.
std::size_t InhibitorsSettled(std::size_t expected) {
    std::size_t count = 0;
    for (int i = 0; i < 100; ++i) {
        count = ListInhibitors().value_or(std::vector<Inhibitor>{}).size();
        if (count == expected) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return count;
}

class SleepInhibitorRun : public ::testing::Test {
protected:
    // One private bus and one mocked logind for the whole suite.
    static void SetUpTestSuite() {
        s_dir = std::make_unique<TempDir>();
        const std::string socket = s_dir->File("system_bus_socket");
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
        s_bus = Spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                       "--address=unix:path=" + socket});
        for (int i = 0; i < 200 && !std::filesystem::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        s_logind =
            Spawn({"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"});
        for (int i = 0; i < 500 && !ListInhibitors(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    static void TearDownTestSuite() {
        Stop(s_logind);
        Stop(s_bus);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        s_dir.reset();
    }

    void SetUp() override {
        ASSERT_TRUE(ListInhibitors()) << "the mocked logind did not come up";
        std::memset(&g_image, 0, sizeof g_image);
        const std::string path = m_dir.File("image.bin");
        WriteBytes(path, BuildRawImage({.startBlock = 16, .endBlock = 40}));
        ASSERT_TRUE(LoadProgramBinaryFrom(dlg, path));
    }

    void TearDown() override {
        CancelUpgrade(dlg);  // handles go before the testbed does
        m_testbed.reset();
    }

    void Attach(const FaultScript& faults = {}) {
        m_testbed = std::make_unique<VirtualTestbed>(
            std::vector<VirtualDrive>{VirtualTestbed::UpgradeDevice("sdb", {}, faults)});
    }

    void Start(bool ok = true) {
        dlg.okCancelAnswers.push_back(ok);
        StartUpgrade(dlg);
    }

    void Ticks(int n) {
        for (int i = 0; i < n && dlg.timerInterval; ++i) SendNextBlock(dlg);
    }

    static inline std::unique_ptr<TempDir> s_dir;
    static inline pid_t s_bus = -1;
    static inline pid_t s_logind = -1;
    TempDir m_dir;
    FakeDialog dlg;
    std::unique_ptr<VirtualTestbed> m_testbed;
};

}  // namespace

TEST_F(SleepInhibitorRun, HeldWhileBlocksAreSentAndReleasedOnEveryEnd) {
    Attach();
    Start(false);  // declined: no run, no inhibitor
    EXPECT_EQ(InhibitorsSettled(0), 0u);

    Start();
    ASSERT_TRUE(UpgradeStartAccepted(dlg));
    const auto held = ListInhibitors().value_or(std::vector<Inhibitor>{});
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(held[0], Inhibitor("sleep:idle:handle-lid-switch", "Kestrel",
                                 "Upgrading device firmware", "block"));
    Ticks(5);
    EXPECT_EQ(InhibitorsSettled(1), 1u);
    Ticks(100);  // to the end
    EXPECT_EQ(dlg.messages.back(), "Finish OK!");
    EXPECT_EQ(InhibitorsSettled(0), 0u);

    Start();
    Ticks(3);
    EXPECT_EQ(InhibitorsSettled(1), 1u);
    CancelUpgrade(dlg);
    EXPECT_EQ(InhibitorsSettled(0), 0u);

    // Upgrade pressed again while a run is stalled replaces the run and its inhibitor.
    m_testbed->WithModel("sdb", [](DeviceModel& m) { m.Faults().nonzeroByte5AtBlock = 18; });
    Start();
    Ticks(100);
    EXPECT_EQ(dlg.messages.back(), "Send Error!");
    EXPECT_EQ(InhibitorsSettled(0), 0u);
}

TEST_F(SleepInhibitorRun, ReleasedWhenTheDeviceIsUnpluggedOrRefusesTheStartFrame) {
    FaultScript faults;
    faults.unplugAfterBlock = 20;
    Attach(faults);
    Start();
    EXPECT_EQ(InhibitorsSettled(1), 1u);
    Ticks(100);
    EXPECT_EQ(dlg.messages.back(), "Send Error!");
    EXPECT_EQ(InhibitorsSettled(0), 0u);

    CancelUpgrade(dlg);
    m_testbed.reset();
    faults = {};
    faults.failWriteAt = 2;  // the query is write 1, the start frame write 2
    Attach(faults);
    Start();
    EXPECT_FALSE(UpgradeStartAccepted(dlg));
    EXPECT_EQ(dlg.messages.back(), "Send Error!");
    EXPECT_EQ(InhibitorsSettled(0), 0u);
}
