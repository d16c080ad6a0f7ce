// The umockdev front door: the sysfs it shows, and SG_IO requests sent with a raw ioctl from
// this process reaching the models and coming back the way the kernel's SG_IO reports them.
// Then kestrel-vdev as a whole: a child's sysfs reads and ioctls served by the parent.

#include <fcntl.h>
#include <linux/fs.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/ImageBuilder.h"
#include "vdev/VirtualTestbed.h"
#include "vdev/wine/WineBridge.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct SgResult {
    int rc = 0;
    int error = 0;
    sg_io_hdr_t hdr{};
    Bytes sense;
};

// One SG_IO request built by hand, as the kernel expects it.
SgResult SgIo(int fd, std::uint8_t opcode, bool toDevice, Bytes& data, std::uint8_t senseRoom = 0) {
    const auto length = static_cast<std::uint32_t>(data.size());
    std::uint8_t cdb[10] = {opcode,
                            0,
                            static_cast<std::uint8_t>(length >> 24),
                            static_cast<std::uint8_t>(length >> 16),
                            static_cast<std::uint8_t>(length >> 8),
                            static_cast<std::uint8_t>(length),
                            0,
                            2,
                            0,
                            0};
    SgResult result;
    result.sense.assign(senseRoom, 0);
    sg_io_hdr_t& hdr = result.hdr;
    hdr.interface_id = 'S';
    hdr.dxfer_direction = toDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
    hdr.cmd_len = sizeof cdb;
    hdr.cmdp = cdb;
    hdr.dxfer_len = length;
    hdr.dxferp = data.empty() ? nullptr : data.data();
    hdr.mx_sb_len = senseRoom;
    hdr.sbp = senseRoom > 0 ? result.sense.data() : nullptr;
    hdr.timeout = 2000000;
    hdr.resid = -1;
    result.rc = ioctl(fd, SG_IO, &hdr);
    result.error = result.rc == 0 ? 0 : errno;
    hdr.cmdp = nullptr;
    return result;
}

Bytes WithXor(Bytes data) {
    std::uint8_t x = 0;
    for (auto b : data) {
        x = static_cast<std::uint8_t>(x ^ b);
    }
    data.push_back(x);
    return data;
}

Bytes Frame(std::uint8_t code, std::uint8_t p0 = 0, std::uint8_t p1 = 0, std::uint8_t p2 = 0) {
    return {0xF6, 0x00, code, p0, p1, p2, static_cast<std::uint8_t>(code ^ p0 ^ p1 ^ p2), 0xF6};
}

// An open device node, closed before the testbed goes (umockdev needs that order).
class Node {
public:
    explicit Node(const std::string& path) : m_fd(open(path.c_str(), O_RDWR | O_NONBLOCK)) {}
    ~Node() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

// Sends one block (16 for a start frame 16..17) through the door and returns the status.
Bytes SendBlockOverSgIo(int fd, const Bytes& block) {
    for (unsigned i = 0; i < 4; ++i) {
        const auto begin = block.begin() + i * 320;
        Bytes chunk = WithXor(Bytes(begin, begin + (i < 3 ? 320 : 64)));
        EXPECT_EQ(SgIo(fd, 0x86, true, chunk).hdr.host_status, 0) << "chunk " << i;
    }
    Bytes status(8);
    EXPECT_EQ(SgIo(fd, 0x85, false, status).rc, 0);
    return status;
}

std::vector<VirtualDrive> StandardDrives() {
    DeviceConfig config;
    config.version = "V2.0.1";
    return {VirtualTestbed::FixedDisk("sda"), VirtualTestbed::UpgradeDevice("sdb", config),
            VirtualTestbed::OrdinaryDrive("sdc"),
            VirtualTestbed::UpgradeDevice("sr0", {}, {}, VirtualDriveKind::CdRom)};
}

TEST(VirtualTestbedSysfs, BlockEntriesCarryTheirKindAndNode) {
    VirtualTestbed testbed(StandardDrives());
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/block")) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"sda", "sdb", "sdc", "sr0"}));
    EXPECT_EQ(ReadText("/sys/block/sda/removable"), "0\n");
    EXPECT_EQ(ReadText("/sys/block/sdb/removable"), "1\n");
    EXPECT_EQ(ReadText("/sys/block/sr0/removable"), "1\n");
    EXPECT_EQ(ReadText("/sys/block/sdb/device/type"), "0\n");
    EXPECT_EQ(ReadText("/sys/block/sr0/device/type"), "5\n");
    EXPECT_EQ(ReadText("/sys/block/sdb/dev"), "8:16\n");

    struct stat info {};
    ASSERT_EQ(stat("/dev/sdb", &info), 0);
    EXPECT_TRUE(S_ISBLK(info.st_mode));
    EXPECT_EQ(major(info.st_rdev), 8U);
    EXPECT_EQ(minor(info.st_rdev), 16U);
}

TEST(VirtualTestbedSysfs, ANodeThatCannotBeOpenedForWriting) {
    VirtualDrive locked = VirtualTestbed::UpgradeDevice("sdb");
    locked.openReadWriteFails = true;
    VirtualTestbed testbed({locked});
    EXPECT_EQ(ReadText("/sys/block/sdb/removable"), "1\n");
    Node node("/dev/sdb");
    EXPECT_LT(node.Fd(), 0);
    EXPECT_EQ(testbed.OpenCount("sdb"), 0U);
}

TEST(VirtualTestbedSysfs, OnlyOneTestbedAtATime) {
    VirtualTestbed testbed({VirtualTestbed::UpgradeDevice()});
    EXPECT_THROW(VirtualTestbed({VirtualTestbed::UpgradeDevice()}), VirtualTestbedError);
}

TEST(VirtualTestbedSgIo, IdentifyComesBackCleanAndIsLogged) {
    VirtualTestbed testbed(StandardDrives());
    {
        Node node("/dev/sdb");
        ASSERT_GE(node.Fd(), 0);
        Bytes reply(2, 0);
        SgResult result = SgIo(node.Fd(), 0x87, false, reply);
        EXPECT_EQ(result.rc, 0);
        EXPECT_EQ(result.hdr.host_status, 0);
        EXPECT_EQ(result.hdr.driver_status, 0);
        EXPECT_EQ(result.hdr.status, 0);
        EXPECT_EQ(result.hdr.resid, 0);
        EXPECT_EQ(result.hdr.info & SG_INFO_CHECK, 0U);
        EXPECT_EQ(reply, (Bytes{0xAA, 0x55}));
    }
    const auto log = testbed.Log("sdb");
    ASSERT_EQ(log.size(), 1U);
    EXPECT_EQ(log[0].cdbLength, 10U);
    EXPECT_EQ(log[0].cdb[0], 0x87);
    EXPECT_EQ(testbed.OpenCount("sdb"), 1U);
    EXPECT_EQ(testbed.OpenCount("sda"), 0U);
    EXPECT_TRUE(testbed.Log("sr0").empty());
}

TEST(VirtualTestbedSgIo, AQueryAndABlockTravelBothWays) {
    VirtualTestbed testbed(StandardDrives());
    Bytes block(1024);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 13 + 5);
    }
    {
        Node node("/dev/sdb");
        ASSERT_GE(node.Fd(), 0);
        Bytes query = Frame(0xE8);
        ASSERT_EQ(SgIo(node.Fd(), 0x86, true, query).hdr.host_status, 0);
        Bytes reply(27, 0xEE);
        ASSERT_EQ(SgIo(node.Fd(), 0x85, false, reply).hdr.host_status, 0);
        EXPECT_EQ(std::string(reply.begin() + 9, reply.begin() + 15), "V2.0.1");
        EXPECT_EQ(std::string(reply.begin() + 17, reply.begin() + 19), "ST");
        EXPECT_EQ(reply[26], 0);

        Bytes start = Frame(0xFF, 0x01, 0x00, 0x11);  // blocks 16..17
        ASSERT_EQ(SgIo(node.Fd(), 0x86, true, start).hdr.host_status, 0);
        EXPECT_EQ(SendBlockOverSgIo(node.Fd(), block), (Bytes{0, 0, 0xFF, 0, 16, 0, 0, 0}));
    }
    const Bytes flash = testbed.Flash("sdb");
    EXPECT_TRUE(std::equal(block.begin(), block.end(), flash.begin() + 16 * 1024));
    const auto log = testbed.Log("sdb");
    ASSERT_EQ(log.size(), 8U);
    EXPECT_EQ(log[3].dataOut, WithXor(Bytes(block.begin(), block.begin() + 320)));
}

TEST(VirtualTestbedSgIo, ARefusedRequestIsAHostErrorWithTheVerdictLogged) {
    VirtualTestbed testbed(StandardDrives());
    {
        Node node("/dev/sdb");
        Bytes frame = Frame(0xE8);
        frame[6] ^= 1;
        SgResult result = SgIo(node.Fd(), 0x86, true, frame);
        EXPECT_EQ(result.rc, 0) << "the request came back, with an error";
        EXPECT_EQ(result.hdr.host_status, 0x07);
        EXPECT_NE(result.hdr.info & SG_INFO_CHECK, 0U);
    }
    EXPECT_EQ(testbed.Log("sdb").back().verdict, "frame check byte wrong");
}

TEST(VirtualTestbedSgIo, AnOrdinaryDriveAnswersIllegalRequest) {
    VirtualTestbed testbed(StandardDrives());
    Node node("/dev/sdc");
    Bytes reply(2, 0);
    SgResult result = SgIo(node.Fd(), 0x87, false, reply, 32);
    EXPECT_EQ(result.rc, 0);
    EXPECT_EQ(result.hdr.host_status, 0);
    EXPECT_EQ(result.hdr.status, 0x02);
    EXPECT_EQ(result.hdr.driver_status, 0x08);
    ASSERT_EQ(result.hdr.sb_len_wr, 18);
    EXPECT_EQ(result.sense[2] & 0x0F, 0x05);
    EXPECT_EQ(result.sense[12], 0x20);
    EXPECT_EQ(reply, (Bytes{0, 0}));
}

TEST(VirtualTestbedSgIo, DeniedAndUnpluggedDevicesFailTheIoctl) {
    VirtualTestbed testbed(StandardDrives());
    testbed.WithModel("sdb", [](DeviceModel& model) { model.Faults().unplugAfterBlock = 16; });
    testbed.WithModel("sr0", [](DeviceModel& model) { model.Faults().denyVendorCommands = true; });
    {
        Node cdrom("/dev/sr0");
        Bytes reply(2, 0);
        SgResult result = SgIo(cdrom.Fd(), 0x87, false, reply);
        EXPECT_EQ(result.rc, -1);
        EXPECT_EQ(result.error, EPERM);

        Node node("/dev/sdb");
        Bytes start = Frame(0xFF, 0x01, 0x00, 0x12);
        ASSERT_EQ(SgIo(node.Fd(), 0x86, true, start).hdr.host_status, 0);
        EXPECT_EQ(SendBlockOverSgIo(node.Fd(), Bytes(1024, 0x3C))[4], 16);
        result = SgIo(node.Fd(), 0x87, false, reply);
        EXPECT_EQ(result.rc, -1);
        EXPECT_EQ(result.error, ENODEV);
    }
}

TEST(VirtualTestbedSgIo, OtherIoctlsAndMalformedHeadersAreRefused) {
    VirtualTestbed testbed(StandardDrives());
    {
        Node node("/dev/sdb");
        std::uint64_t size = 0;
        EXPECT_EQ(ioctl(node.Fd(), BLKGETSIZE64, &size), -1);
        EXPECT_EQ(errno, ENOTTY);
        int version = 0;
        EXPECT_EQ(ioctl(node.Fd(), SG_GET_VERSION_NUM, &version), -1);
        EXPECT_EQ(errno, ENOTTY);

        std::uint8_t cdb[10] = {0x87, 0, 0, 0, 0, 2, 0, 2, 0, 0};
        std::uint8_t reply[2] = {};
        sg_io_hdr_t hdr{};
        hdr.interface_id = 'Q';
        hdr.dxfer_direction = SG_DXFER_FROM_DEV;
        hdr.cmd_len = 10;
        hdr.cmdp = cdb;
        hdr.dxfer_len = 2;
        hdr.dxferp = reply;
        EXPECT_EQ(ioctl(node.Fd(), SG_IO, &hdr), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(testbed.RefusedIoctls("sdb"), 2U);
    EXPECT_TRUE(testbed.Log("sdb").empty()) << "a malformed header never reaches the device";
}

TEST(VirtualTestbedSgIo, TwoDevicesKeepTheirOwnModels) {
    VirtualTestbed testbed(
        {VirtualTestbed::UpgradeDevice("sdb"), VirtualTestbed::UpgradeDevice("sdd")});
    {
        Node second("/dev/sdd");
        Bytes reply(2);
        SgIo(second.Fd(), 0x87, false, reply);
        SgIo(second.Fd(), 0x87, false, reply);
    }
    EXPECT_TRUE(testbed.Log("sdb").empty());
    EXPECT_EQ(testbed.Log("sdd").size(), 2U);
    EXPECT_EQ(ReadText("/sys/block/sdd/dev"), "8:48\n");
}

TEST(VirtualTestbedSgIo, TheScriptedDelayIsReportedAsTheDuration) {
    FaultScript faults;
    faults.delayMsPerCommand = 3;
    VirtualTestbed testbed({VirtualTestbed::UpgradeDevice("sdb", {}, faults)});
    Node node("/dev/sdb");
    Bytes reply(2);
    EXPECT_EQ(SgIo(node.Fd(), 0x87, false, reply).hdr.duration, 3U);
}

// kestrel-vdev runs its command in a child; these tests start it as a separate process and
// create no testbed of their own.
std::string Vdev() {
    return std::string(KESTREL_BUILD_DIR) + "/vdev/kestrel-vdev";
}
std::string Probe() {
    return std::string(KESTREL_BUILD_DIR) + "/tests/emulated/kestrel_sgio_probe";
}

int RunShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KestrelVdev, RunsTheCommandInTheTestbedAndReturnsItsStatus) {
    TempDir dir;
    const std::string out = dir.File("out.txt");
    EXPECT_EQ(RunShell(Vdev() +
                       " -- sh -c 'ls /sys/block; cat /sys/block/sda/removable "
                       "/sys/block/sdb/removable; exit 7' > " +
                       out),
              7);
    EXPECT_EQ(ReadText(out), "sda\nsdb\n0\n1\n");
    EXPECT_EQ(RunShell(Vdev() + " --kind cdrom -- sh -c 'cat /sys/block/sr0/device/type' > " + out),
              0);
    EXPECT_EQ(ReadText(out), "5\n");
}

TEST(KestrelVdev, TheChildsRequestsReachTheModelInTheParent) {
    TempDir dir;
    const std::string out = dir.File("out.txt");
    const std::string log = dir.File("log.txt");
    const std::string flash = dir.File("flash.bin");
    EXPECT_EQ(RunShell(Vdev() + " --identify-swapped --log " + log + " -- " + Probe() +
                       " identify /dev/sdb > " + out),
              0);
    EXPECT_EQ(ReadText(out), "55 AA\n");
    EXPECT_EQ(ReadText(log), "#1 identify(87) in 2 bytes: ok [55 AA]\n");

    EXPECT_EQ(
        RunShell(Vdev() + " --flash-out " + flash + " -- " + Probe() + " block /dev/sdb > " + out),
        0);
    EXPECT_EQ(ReadText(out), "00 00 FF 00 10 00 00 00\n");
    const Bytes image = ReadBytes(flash);
    ASSERT_EQ(image.size(), 512U * 1024U);
    for (std::size_t i = 0; i < 1024; ++i) {
        ASSERT_EQ(image[16 * 1024 + i], static_cast<std::uint8_t>(i)) << i;
    }
    EXPECT_EQ(image[15 * 1024], 0xFF);
}

TEST(KestrelVdev, FaultOptionsReachTheModel) {
    TempDir dir;
    const std::string out = dir.File("out.txt");
    EXPECT_EQ(RunShell(Vdev() + " --deny-vendor -- " + Probe() + " identify /dev/sdb > " + out), 1);
    EXPECT_EQ(ReadText(out), "ioctl failed: Operation not permitted\n");
    EXPECT_EQ(RunShell(Vdev() + " --nonzero-byte5 16 -- " + Probe() + " block /dev/sdb > " + out),
              0);
    EXPECT_EQ(ReadText(out), "00 00 FF 00 10 01 00 00\n");
    EXPECT_EQ(RunShell(Vdev() + " --open-fails -- " + Probe() + " identify /dev/sdb > " + out), 1);
}

// sg3_utils knows nothing of Kestrel: what it gets is what any SCSI tool gets from the drive,
// the same answers the TCMU door gives the kernel, and the vendor opcodes still reach the model.
TEST(KestrelVdev, AThirdPartyScsiToolIsAnsweredAsByASmallRemovableDrive) {
    TempDir dir;
    const std::string out = dir.File("out.txt");
    const std::string log = dir.File("log.txt");
    EXPECT_EQ(RunShell(Vdev() + " --log " + log + " -- sh -c 'sg_inq /dev/sdb && sg_turs /dev/sdb" +
                       " && sg_readcap /dev/sdb && sg_raw -r 2 /dev/sdb 87 0 0 0 0 2 0 2 0 0' > " +
                       out + " 2>&1"),
              0)
        << ReadText(out);
    const std::string text = ReadText(out);
    for (const char* expected :
         {"PDT=0  RMB=1", "Vendor identification: KESTREL",
          "Product identification: Virtual Device", "Unit serial number: KV0001", "Last LBA=1023",
          "Logical block length=512", "aa 55"}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected << " in\n" << text;
    }
    EXPECT_EQ(ReadText(log), "#1 identify(87) in 2 bytes: ok [AA 55]\n")
        << "only the vendor request reaches the model";

    EXPECT_EQ(RunShell(Vdev() + " -- sg_raw /dev/sdb 2a 0 0 0 0 0 0 0 1 0 > " + out + " 2>&1"), 9)
        << "an opcode the drive does not know: ILLEGAL REQUEST";
    EXPECT_NE(ReadText(out).find("Invalid command operation code"), std::string::npos)
        << ReadText(out);
    EXPECT_EQ(RunShell(Vdev() + " --kind cdrom -- sg_inq /dev/sr0 > " + out + " 2>&1"), 0);
    EXPECT_NE(ReadText(out).find("PDT=5  RMB=1"), std::string::npos) << ReadText(out);
    EXPECT_EQ(RunShell(Vdev() + " --deny-vendor -- sh -c 'sg_inq /dev/sdb >/dev/null && " +
                       "sg_raw -r 2 /dev/sdb 87 0 0 0 0 2 0 2 0 0' > " + out + " 2>&1"),
              50 + EPERM)
        << "without CAP_SYS_RAWIO only the vendor opcodes are refused (sg3_utils: 50 + errno)";
    EXPECT_NE(ReadText(out).find("Operation not permitted"), std::string::npos) << ReadText(out);
}

TEST(KestrelVdev, AnInterruptSentToItReachesTheChild) {
    // The child asks its parent to be interrupted and waits; only a forwarded SIGINT ends the
    // wait early with the trap's status (otherwise sleep ends it with 0).
    EXPECT_EQ(RunShell(Vdev() +
                       " -- sh -c 'trap \"exit 5\" INT; sleep 5 >/dev/null 2>&1 & kill -INT $PPID; "
                       "wait $!'"),
              5);
}

// Under Wine the server opens the node by its testbed path and hands the descriptor over, so
// umockdev never sees the open; the bridge library must carry SG_IO to the model anyway.
TEST(KestrelVdev, TheWineBridgeCarriesSgIoOnANodeOpenedBehindUmockdevsBack) {
    TempDir dir;
    const std::string out = dir.File("out.txt");
    const std::string direct = Probe() + " identify \"$UMOCKDEV_DIR/dev/sdb\" > " + out;
    EXPECT_EQ(RunShell(Vdev() + " -- sh -c '" + direct + "'"), 1);
    EXPECT_EQ(ReadText(out), "ioctl failed: Inappropriate ioctl for device\n");
    const std::string bridge = std::string(KESTREL_BUILD_DIR) + "/vdev/libkestrel-wine-sgio.so";
    EXPECT_EQ(RunShell(Vdev() + " -- sh -c 'LD_PRELOAD=" + bridge + ":$LD_PRELOAD " + direct + "'"),
              0);
    EXPECT_EQ(ReadText(out), "AA 55\n");
}

TEST(KestrelVdev, WineLettersFollowTheLinuxSearchOrderAndKeepTheKind) {
    using K = VirtualDriveKind;
    const std::vector<VirtualDrive> drives = {
        VirtualTestbed::UpgradeDevice("sdb"),
        VirtualTestbed::UpgradeDevice("sr0", {}, {}, K::CdRom), VirtualTestbed::FixedDisk("sda"),
        VirtualTestbed::UpgradeDevice("sdaa"), VirtualTestbed::OrdinaryDrive("sdc")};
    std::string got;
    for (const WineDriveLetter& l : AssignWineLetters(drives)) {
        got += std::string(1, l.letter) + "=" + l.drive + (l.kind == K::CdRom ? "(cd) " : " ");
    }
    EXPECT_EQ(got, "D=sda E=sdb F=sdc G=sdaa H=sr0(cd) ");
}

TEST(KestrelVdev, UsageErrorsExitWithTwo) {
    EXPECT_EQ(RunShell(Vdev() + " > /dev/null 2>&1"), 2) << "no command";
    EXPECT_EQ(RunShell(Vdev() + " --chip-id 41:42 -- true > /dev/null 2>&1"), 2);
    EXPECT_EQ(RunShell(Vdev() + " --kind floppy -- true > /dev/null 2>&1"), 2);
}

}  // namespace
