// What the umockdev door puts in sg_io_hdr for each kind of reply, and the sysfs it shows.
#include <gtest/gtest.h>

#include <cerrno>

#include "vdev/DriveSysfs.h"
#include "vdev/SgIoAnswer.h"

TEST(SgIoAnswer, EachReplyCompletesTheWayTheKernelsSgIoDoes) {
    ScsiReply inquiry;
    inquiry.transferred = 36;
    SgIoCompletion done = CompleteSgIo(inquiry, 96, 32);
    EXPECT_EQ(done.result, 0);
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.resid, 60) << "a short answer leaves a residual";
    EXPECT_EQ(done.info, 0u);
    EXPECT_EQ(done.senseWritten, 0);

    ScsiReply refused = CheckCondition(kSenseIllegalRequest, kAscInvalidOpcode);
    done = CompleteSgIo(refused, 2, 32);
    EXPECT_EQ(done.status, kScsiCheckCondition);
    EXPECT_EQ(done.driverStatus, 0x08);
    EXPECT_EQ(done.senseWritten, 18);
    EXPECT_EQ(done.resid, 2);
    EXPECT_EQ(done.info, 1u);
    EXPECT_EQ(CompleteSgIo(refused, 2, 8).senseWritten, 8) << "cut to the caller's room";
    EXPECT_EQ(CompleteSgIo(refused, 2, 0).senseWritten, 0);

    ScsiReply failed = CheckCondition(kSenseIllegalRequest, kAscInvalidFieldInCdb);
    failed.vendorOutcome = RequestOutcome::Failed;
    done = CompleteSgIo(failed, 8, 32);
    EXPECT_EQ(done.result, 0) << "a failed request still comes back";
    EXPECT_EQ(done.hostStatus, 0x07);
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.senseWritten, 0);

    ScsiReply gone;
    gone.vendorOutcome = RequestOutcome::Unplugged;
    EXPECT_EQ(CompleteSgIo(gone, 2, 0).result, -1);
    EXPECT_EQ(CompleteSgIo(gone, 2, 0).errorNumber, ENODEV);
    gone.vendorOutcome = RequestOutcome::PermissionDenied;
    EXPECT_EQ(CompleteSgIo(gone, 2, 0).errorNumber, EPERM);
}

TEST(DriveSysfs, TextCarriesKindNumbersAndTheInquiryIdentity) {
    VirtualDrive disk;
    disk.name = "sdab";
    disk.serial = "KV0001";
    const std::string text = SysfsText(disk, 3);
    EXPECT_NE(text.find("A: dev=8:432\\n"), std::string::npos) << text;  // (26 + 2 - 1) * 16
    EXPECT_NE(text.find("A: removable=1\\n"), std::string::npos);
    EXPECT_NE(text.find("A: serial=KV0001\\n"), std::string::npos);
    EXPECT_NE(text.find("A: vendor=KESTREL \\n\nA: model=Virtual Device  \\n\nA: rev=1.00\\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("P: " + ScsiDevicePath(3) + "/block/sdab\n"), std::string::npos);

    VirtualDrive cd;
    cd.name = "sr1";
    cd.kind = VirtualDriveKind::CdRom;
    const std::string cdText = SysfsText(cd, 0);
    EXPECT_NE(cdText.find("A: dev=11:1\\n"), std::string::npos);
    EXPECT_NE(cdText.find("A: type=5\\n"), std::string::npos);
    EXPECT_EQ(cdText.find("A: serial="), std::string::npos) << "no serial, no attribute";
    VirtualDrive fixed;
    fixed.name = "sda";
    fixed.kind = VirtualDriveKind::Fixed;
    EXPECT_NE(SysfsText(fixed, 0).find("A: removable=0\\n"), std::string::npos);
}
