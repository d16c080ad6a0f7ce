// Drive discovery and the vendor command transport through the real Linux code: the sysfs scan,
// open() and ioctl(SG_IO) run against a umockdev testbed whose nodes are served by device
// models. A testbed that cannot start throws, which fails the test (never a skip).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "device/DriveDiscovery.h"
#include "device/VendorCommands.h"
#include "tests/support/ImageBuilder.h"
#include "vdev/VirtualTestbed.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Handles this process holds on a drive's node. umockdev serves an emulated node through a
// socket that the client connects to the node's path; close() drops it at once, so this counts
// open drive handles without waiting for the testbed's worker thread.
unsigned OpenHandles(const VirtualTestbed& testbed, const std::string& name) {
    const std::string suffix = "/dev/" + name;
    unsigned count = 0;
    const long maxFd = sysconf(_SC_OPEN_MAX);
    for (int fd = 0; fd < (maxFd > 0 && maxFd < 4096 ? maxFd : 4096); ++fd) {
        sockaddr_un peer{};
        socklen_t size = sizeof peer;
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) continue;
        const std::string path(peer.sun_path, strnlen(peer.sun_path, sizeof peer.sun_path));
        if (path.starts_with(testbed.RootDir()) && path.ends_with(suffix)) ++count;
    }
    return count;
}

std::vector<std::string> Names(const std::vector<DriveCandidate>& drives) {
    std::vector<std::string> names;
    for (const DriveCandidate& drive : drives) names.push_back(drive.name);
    return names;
}

unsigned CountOpcode(const std::vector<LoggedRequest>& log, std::uint8_t opcode) {
    unsigned n = 0;
    for (const LoggedRequest& request : log) n += request.cdb[0] == opcode ? 1u : 0u;
    return n;
}

const DriveProbe& ProbeOf(const std::vector<DriveProbe>& probes, const std::string& name) {
    for (const DriveProbe& probe : probes)
        if (probe.drive.name == name) return probe;
    throw std::out_of_range("no probe for " + name);
}

VirtualDrive UnopenableDrive(std::string name) {
    VirtualDrive drive = VirtualTestbed::UpgradeDevice(std::move(name));
    drive.openReadWriteFails = true;
    return drive;
}

// A whole valid exchange up to the first image chunk: query, its reply, start frame for blocks
// 16 to 100, chunk 0 of block 16 (320 bytes and their XOR).
const Bytes kQueryFrame{0xF6, 0x00, 0xE8, 0x00, 0x00, 0x00, 0xE8, 0xF6};
const Bytes kStartFrame{0xF6, 0x00, 0xFF, 0x01, 0x00, 0x64, 0x9A, 0xF6};

Bytes FirstChunk() {
    Bytes chunk(321);
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < 320; ++i) {
        chunk[i] = static_cast<std::uint8_t>(i * 7 + 3);
        check ^= chunk[i];
    }
    chunk[320] = check;
    return chunk;
}

}  // namespace

TEST(DriveDiscovery, TheFirstOfTwoDevicesInSearchOrderIsChosenEveryTime) {
    // Created in the opposite order, so that only the search order can pick sdb.
    VirtualTestbed testbed({VirtualTestbed::UpgradeDevice("sdd"),
                            VirtualTestbed::UpgradeDevice("sdb"),
                            VirtualTestbed::FixedDisk("sda")});
    EXPECT_EQ(Names(EnumerateCandidateDrives()), (std::vector<std::string>{"sdb", "sdd"}));

    constexpr unsigned kRounds = 10;
    for (unsigned round = 0; round < kRounds; ++round) {
        const DriveHandle handle = FindUpgradeDrive(round);  // the channel plays no part
        ASSERT_NE(handle, kInvalidDrive);
        EXPECT_EQ(OpenHandles(testbed, "sdb"), 1u);
        EXPECT_EQ(OpenHandles(testbed, "sdd"), 0u);
        CloseDevice(handle);
        EXPECT_EQ(OpenHandles(testbed, "sdb"), 0u);
    }
    EXPECT_EQ(CountOpcode(testbed.Log("sdb"), kOpVendorIdentify), kRounds);
    EXPECT_TRUE(testbed.Log("sdd").empty());
    EXPECT_EQ(testbed.OpenCount("sdd"), 0u);
}

TEST(DriveDiscovery, FixedDiskIsNeverOpenedEvenIfItWouldAnswerIdentify) {
    VirtualTestbed testbed(
        {VirtualTestbed::FixedDisk("sda"), VirtualTestbed::OrdinaryDrive("sdc")});

    EXPECT_EQ(FindUpgradeDrive(0), kInvalidDrive);
    EXPECT_EQ(testbed.OpenCount("sda"), 0u);
    EXPECT_TRUE(testbed.Log("sda").empty());
    // The ordinary drive was asked once, refused, and its handle closed again.
    EXPECT_EQ(CountOpcode(testbed.Log("sdc"), kOpVendorIdentify), 1u);
    EXPECT_EQ(OpenHandles(testbed, "sdc"), 0u);

    const auto probes = ProbeCandidateDrives();
    EXPECT_EQ(ProbeOf(probes, "sda").drive.kind, DriveKind::Fixed);
    EXPECT_EQ(ProbeOf(probes, "sda").result, ProbeResult::NotCandidate);
    EXPECT_EQ(testbed.OpenCount("sda"), 0u);
}

TEST(DriveDiscovery, RemovableDriveThatCannotBeOpenedReadWriteIsSkipped) {
    VirtualTestbed testbed({UnopenableDrive("sdb"), VirtualTestbed::UpgradeDevice("sdc")});

    const DriveHandle handle = FindUpgradeDrive(0);
    ASSERT_NE(handle, kInvalidDrive);
    EXPECT_EQ(OpenHandles(testbed, "sdc"), 1u);
    CloseDevice(handle);
    EXPECT_TRUE(testbed.Log("sdb").empty());

    const auto probes = ProbeCandidateDrives();
    const DriveProbe& sdb = ProbeOf(probes, "sdb");
    EXPECT_EQ(sdb.result, ProbeResult::OpenFailed);
    EXPECT_NE(sdb.openError, 0);
    EXPECT_EQ(ProbeOf(probes, "sdc").result, ProbeResult::Device);
}

TEST(DriveDiscovery, CdRomDrivesComeAfterTheRemovableDisksInNumberOrder) {
    VirtualTestbed testbed({
        VirtualTestbed::UpgradeDevice("sr10", {}, {}, VirtualDriveKind::CdRom),
        VirtualTestbed::OrdinaryDrive("sr2", VirtualDriveKind::CdRom),
        VirtualTestbed::OrdinaryDrive("sdaa"),
        VirtualTestbed::OrdinaryDrive("sdb"),
        VirtualTestbed::FixedDisk("sda"),
    });
    EXPECT_EQ(Names(EnumerateCandidateDrives()),
              (std::vector<std::string>{"sdb", "sdaa", "sr2", "sr10"}));
    const auto drives = EnumerateCandidateDrives();
    EXPECT_EQ(drives.back().kind, DriveKind::CdRom);
    EXPECT_EQ(drives.back().devicePath, "/dev/sr10");

    const DriveHandle handle = FindUpgradeDrive(0);
    ASSERT_NE(handle, kInvalidDrive);
    EXPECT_EQ(OpenHandles(testbed, "sr10"), 1u);
    CloseDevice(handle);
    for (const char* name : {"sdb", "sdaa", "sr2"}) {
        EXPECT_EQ(CountOpcode(testbed.Log(name), kOpVendorIdentify), 1u) << name;
        EXPECT_EQ(OpenHandles(testbed, name), 0u) << name;
    }
}

TEST(VendorIdentify, SwappedAnswerIsNotTheDevice) {
    FaultScript faults;
    faults.identifyAnswersSwapped = true;
    VirtualTestbed testbed({VirtualTestbed::UpgradeDevice("sdb", {}, faults)});

    EXPECT_EQ(FindUpgradeDrive(0), kInvalidDrive);
    EXPECT_EQ(OpenHandles(testbed, "sdb"), 0u);
    const auto probes = ProbeCandidateDrives();
    const DriveProbe& probe = ProbeOf(probes, "sdb");
    EXPECT_EQ(probe.result, ProbeResult::NotDevice);
    EXPECT_EQ(probe.reply, (std::array<std::uint8_t, 2>{0x55, 0xAA}));
}

TEST(VendorIdentify, FailedRequestIsNeverTakenForAnAnswerAndNotRetried) {
    FaultScript faults;
    faults.failCommandAt = 1;
    VirtualTestbed testbed({VirtualTestbed::UpgradeDevice("sdb", {}, faults)});

    const DriveHandle handle = OpenDriveReadWrite(EnumerateCandidateDrives().at(0));
    ASSERT_NE(handle, kInvalidDrive);
    std::array<std::uint8_t, 2> reply{0xEE, 0xEE};
    PassThroughResult transport;
    EXPECT_EQ(ProbeIdentify(handle, &reply, &transport), IdentifyAnswer::RequestFailed);
    EXPECT_FALSE(transport.reachedDevice);
    EXPECT_EQ(reply, (std::array<std::uint8_t, 2>{0, 0}));  // zeroed before the request
    EXPECT_EQ(testbed.Log("sdb").size(), 1u);               // one request, no retry
    // The next request is answered: the failure was that request's alone.
    EXPECT_TRUE(VendorIdentify(handle));
    CloseDevice(handle);
}

TEST(VendorTransport, DeviceReceivesTheCdbLengthDirectionAndData) {
    VirtualTestbed testbed({VirtualTestbed::UpgradeDevice("sdb")});
    const DriveHandle handle = FindUpgradeDrive(0);
    ASSERT_NE(handle, kInvalidDrive);

    Bytes reply(27, 0xEE);
    const Bytes chunk = FirstChunk();
    EXPECT_TRUE(VendorWrite(handle, 8, kQueryFrame.data()));
    EXPECT_TRUE(VendorRead(handle, 27, reply.data()));
    EXPECT_TRUE(VendorWrite(handle, 8, kStartFrame.data()));
    EXPECT_TRUE(VendorWrite(handle, 321, chunk.data()));
    CloseDevice(handle);

    const std::vector<LoggedRequest> log = testbed.Log("sdb");
    ASSERT_EQ(log.size(), 5u);
    for (const LoggedRequest& request : log) {
        SCOPED_TRACE(DescribeRequest(request));
        EXPECT_EQ(request.cdbLength, kCdbLength);
        EXPECT_EQ(request.cdb[7], 2);
        EXPECT_EQ(request.outcome, RequestOutcome::Ok);
    }
    using testing::ElementsAre;
    EXPECT_THAT(log[0].cdb, ElementsAre(0x87, 0, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_FALSE(log[0].toDevice);
    EXPECT_THAT(log[2].cdb,
                ElementsAre(0x85, 0, 0x00, 0x00, 0x00, 0x1B, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_FALSE(log[2].toDevice);
    EXPECT_EQ(log[2].length, 27u);
    EXPECT_EQ(Bytes(reply.begin(), reply.end()), log[2].dataIn);  // what it answered, we got
    EXPECT_THAT(log[4].cdb,
                ElementsAre(0x86, 0, 0x00, 0x00, 0x01, 0x41, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0));
    EXPECT_TRUE(log[4].toDevice);
    EXPECT_EQ(log[4].length, 321u);
    EXPECT_EQ(log[4].dataOut, chunk);
    EXPECT_EQ(log[1].dataOut, kQueryFrame);
}

TEST(VendorTransport, FailedWriteOrReadIsReportedAsFalse) {
    FaultScript faults;
    faults.failWriteAt = 2;
    faults.failReadAt = 1;
    VirtualTestbed testbed({VirtualTestbed::UpgradeDevice("sdb", {}, faults)});
    const DriveHandle handle = FindUpgradeDrive(0);
    ASSERT_NE(handle, kInvalidDrive);

    Bytes reply(27);
    EXPECT_TRUE(VendorWrite(handle, 8, kQueryFrame.data()));
    EXPECT_FALSE(VendorRead(handle, 27, reply.data()));
    EXPECT_FALSE(VendorWrite(handle, 8, kQueryFrame.data()));
    CloseDevice(handle);
    // Each call was one request: nothing was repeated behind the caller's back.
    EXPECT_EQ(testbed.Log("sdb").size(), 4u);
}

// kestrel-cli list, run as its own process under the testbed (it inherits UMOCKDEV_DIR).
namespace {

struct CliRun {
    int status = -1;
    std::string out;
};

CliRun RunCli(const std::string& args) {
    const std::string command = "LD_PRELOAD=libumockdev-preload.so.0 " KESTREL_BUILD_DIR
                                "/cli/kestrel-cli " +
                                args + " 2>&1";
    CliRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot start kestrel-cli");
    char buffer[4096];
    while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace

TEST(ListCommand, ShowsTheDeviceFoundAndTheFixedDiskSkipped) {
    VirtualTestbed testbed({VirtualTestbed::FixedDisk("sda"), VirtualTestbed::OrdinaryDrive("sdb"),
                            VirtualTestbed::UpgradeDevice("sdc"), UnopenableDrive("sdd")});
    const CliRun run = RunCli("list --json");
    ASSERT_EQ(run.status, 0) << run.out;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["device"], "/dev/sdc");
    const auto& drives = json["drives"];
    ASSERT_EQ(drives.size(), 4u);
    EXPECT_EQ(drives[0]["name"], "sda");
    EXPECT_EQ(drives[0]["kind"], "fixed");
    EXPECT_EQ(drives[0]["opened"], false);
    EXPECT_EQ(drives[1]["identify"], "other");
    EXPECT_EQ(drives[2]["identify"], "device");
    EXPECT_EQ(drives[2]["reply"], "AA 55");
    EXPECT_EQ(drives[3]["opened"], false);
    EXPECT_TRUE(drives[3]["openError"].is_string());
    EXPECT_EQ(testbed.OpenCount("sda"), 0u);
    // The trace keeps the sense key of the ordinary drive's refusal.
    EXPECT_THAT(RunCli("--verbose list").out,
                testing::HasSubstr("SCSI status 0x02, host status 0x00, driver status 0x08, "
                                   "sense key 0x5 ILLEGAL REQUEST"));
}

TEST(ListCommand, ExplainsEpermAsTheMissingRawIoCapability) {
    FaultScript faults;
    faults.denyVendorCommands = true;
    VirtualTestbed testbed({VirtualTestbed::UpgradeDevice("sdb", {}, faults)});

    const CliRun text = RunCli("list");
    EXPECT_EQ(text.status, 1) << text.out;
    EXPECT_THAT(text.out, testing::HasSubstr("identify request failed: Operation not permitted"));
    EXPECT_THAT(text.out, testing::HasSubstr("CAP_SYS_RAWIO"));
    EXPECT_THAT(text.out, testing::HasSubstr("setcap cap_sys_rawio+ep"));
    EXPECT_THAT(text.out, testing::HasSubstr("device: none found"));

    const CliRun json = RunCli("list --json");
    EXPECT_EQ(json.status, 1);
    const auto drive = nlohmann::json::parse(json.out)["drives"].at(0);
    EXPECT_EQ(drive["identify"], "failed");
    EXPECT_EQ(drive["requestErrno"], EPERM);
    EXPECT_THAT(drive["hint"].get<std::string>(), testing::HasSubstr("CAP_SYS_RAWIO"));
}

TEST(DriveLock, ASecondProcessFindsNoDeviceWhileOneHoldsItAndSendsItNothing) {
    VirtualTestbed testbed(
        {VirtualTestbed::FixedDisk("sda"), VirtualTestbed::UpgradeDevice("sdb")});
    TempDir dir;
    const std::string image = dir.File("image.bin");
    WriteBytes(image, BuildRawImage({}));

    const DriveHandle held = FindUpgradeDrive(0);
    ASSERT_NE(held, kInvalidDrive);
    const std::size_t requestsBefore = testbed.Log("sdb").size();

    const CliRun upgrade = RunCli("upgrade --yes " + image);
    EXPECT_EQ(upgrade.status, 1) << upgrade.out;
    EXPECT_THAT(upgrade.out, testing::HasSubstr("Device Open Fail!"));
    const CliRun list = RunCli("list");
    EXPECT_EQ(list.status, 1) << list.out;
    EXPECT_THAT(list.out, testing::HasSubstr("busy: another Kestrel run holds it"));
    EXPECT_EQ(testbed.Log("sdb").size(), requestsBefore);  // not even an identify got through

    // Closing the handle releases the drive.
    CloseDevice(held);
    EXPECT_EQ(RunCli("list").status, 0);
}

// udev takes a shared flock on a disk while it probes it, after every read-write close. That is
// not another Kestrel run: it is waited for a short while, and named when it lasts.
TEST(DriveLock, AnotherProgramsShortLockIsWaitedForAndALongOneIsNamedNotTakenForKestrel) {
    VirtualTestbed testbed({VirtualTestbed::UpgradeDevice("sdb")});
    TempDir dir;
    const std::string ready = dir.File("ready");
    // flock(1) under the testbed stands in for udev's worker: LOCK_SH on the node, then holds.
    const auto hold = [&](const char* seconds) {
        std::remove(ready.c_str());
        const std::string command =
            "LD_PRELOAD=libumockdev-preload.so.0 flock -s /dev/sdb sh -c "
            "'touch " +
            ready + "; sleep " + seconds + "' &";
        ASSERT_EQ(std::system(command.c_str()), 0);
        for (int i = 0; i < 200 && access(ready.c_str(), F_OK) != 0; ++i) usleep(10000);
        ASSERT_EQ(access(ready.c_str(), F_OK), 0);
    };

    hold("0.5");
    const CliRun waited = RunCli("list");
    EXPECT_EQ(waited.status, 0) << waited.out;
    EXPECT_THAT(waited.out, testing::HasSubstr("the device"));

    hold("5");
    const std::size_t requestsBefore = testbed.Log("sdb").size();
    const CliRun held = RunCli("list --json");
    EXPECT_EQ(held.status, 1) << held.out;
    const auto drive = nlohmann::json::parse(held.out)["drives"].at(0);
    EXPECT_EQ(drive["busy"], false);
    EXPECT_EQ(drive["heldByOther"], true);
    EXPECT_THAT(drive["holder"].get<std::string>(), testing::StartsWith("flock, pid "));
    EXPECT_EQ(testbed.Log("sdb").size(), requestsBefore);  // nothing was sent
    const CliRun text = RunCli("list");
    EXPECT_THAT(text.out, testing::HasSubstr("busy: held by another process (flock, pid "));
}
