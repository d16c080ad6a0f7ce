// The virtual device's SCSI answers, the same behind every door: what the sd driver needs at
// attach and open, the refusal of everything else, and the vendor opcodes reaching the model
// with its outcome kept for the doors that map it onto their transport.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "vdev/DeviceModel.h"
#include "vdev/ScsiResponder.h"

namespace {

struct Outcome {
    ScsiReply reply;
    std::vector<std::uint8_t> data;
};

Outcome Execute(ScsiResponder& responder, std::vector<std::uint8_t> cdb, std::uint32_t length,
                std::uint8_t fill = 0xEE) {
    Outcome run;
    run.data.assign(length, fill);
    run.reply = responder.Execute(cdb.data(), cdb.size(), run.data.data(), length);
    return run;
}

void ExpectIllegalRequest(const ScsiReply& reply, std::uint8_t asc) {
    EXPECT_EQ(reply.status, kScsiCheckCondition);
    EXPECT_EQ(reply.sense[0], 0x70);
    EXPECT_EQ(reply.sense[2], 0x05);
    EXPECT_EQ(reply.sense[12], asc);
}

ScsiResponder Disk(bool removable = true) {
    return ScsiResponder({removable, "SER1", 2048}, {});
}

}  // namespace

TEST(ScsiResponderTest, InquiryTellsRemovableFromFixedAndHonoursAllocationLength) {
    ScsiResponder removable = Disk(true);
    ScsiResponder fixed = Disk(false);
    const Outcome r = Execute(removable, {0x12, 0, 0, 0, 96, 0}, 96);
    EXPECT_EQ(r.reply.status, kScsiGood);
    EXPECT_EQ(r.data[0], 0x00);  // direct-access block device
    EXPECT_EQ(r.data[1], 0x80);
    EXPECT_EQ(r.data[4] + 5, 36);
    EXPECT_EQ(std::string(r.data.begin() + 8, r.data.begin() + 16), "KESTREL ");
    EXPECT_EQ(r.data[36], 0xEE) << "nothing written past the answer";
    EXPECT_EQ(Execute(fixed, {0x12, 0, 0, 0, 36, 0}, 36).data[1], 0x00);
    ScsiResponder cdrom({true, "S", 2048, true}, {});
    EXPECT_EQ(Execute(cdrom, {0x12, 0, 0, 0, 36, 0}, 36).data[0], 0x05);

    const Outcome cut = Execute(removable, {0x12, 0, 0, 0, 5, 0}, 36);
    EXPECT_EQ(cut.data[4], 31);
    EXPECT_EQ(cut.data[5], 0xEE) << "allocation length 5 must cut the answer";
}

TEST(ScsiResponderTest, VitalProductDataOffersOnlyPagesZeroAndSerial) {
    ScsiResponder disk = Disk();
    const Outcome pages = Execute(disk, {0x12, 1, 0x00, 0, 255, 0}, 255);
    EXPECT_EQ(pages.reply.status, kScsiGood);
    EXPECT_EQ(pages.data[3], 2);
    EXPECT_EQ(pages.data[4], 0x00);
    EXPECT_EQ(pages.data[5], 0x80);
    const Outcome serial = Execute(disk, {0x12, 1, 0x80, 0, 255, 0}, 255);
    EXPECT_EQ(serial.data[1], 0x80);
    EXPECT_EQ(serial.data[3], 4);
    EXPECT_EQ(std::string(serial.data.begin() + 4, serial.data.begin() + 8), "SER1");
    ExpectIllegalRequest(Execute(disk, {0x12, 1, 0x83, 0, 255, 0}, 255).reply, 0x24);
    ExpectIllegalRequest(Execute(disk, {0x12, 0, 0x80, 0, 255, 0}, 255).reply, 0x24);
}

TEST(ScsiResponderTest, CapacityAndBlankMedium) {
    ScsiResponder disk = Disk();
    const Outcome cap10 = Execute(disk, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    EXPECT_EQ(cap10.data, (std::vector<std::uint8_t>{0, 0, 0x07, 0xFF, 0, 0, 0x02, 0}));
    std::vector<std::uint8_t> rc16(16, 0);
    rc16[0] = 0x9E;
    rc16[1] = 0x10;
    rc16[13] = 32;
    const Outcome cap16 = Execute(disk, rc16, 32);
    EXPECT_EQ(cap16.data[6], 0x07);
    EXPECT_EQ(cap16.data[7], 0xFF);
    EXPECT_EQ(cap16.data[10], 0x02);
    EXPECT_EQ(cap16.data[12], 0x00) << "protection and exponent fields stay zero";

    const Outcome read = Execute(disk, {0x28, 0, 0, 0, 0, 0, 0, 0, 2, 0}, 1024);
    EXPECT_EQ(read.reply.status, kScsiGood);
    EXPECT_EQ(read.data, std::vector<std::uint8_t>(1024, 0));
    ExpectIllegalRequest(Execute(disk, {0x28, 0, 0, 0, 0x07, 0xFF, 0, 0, 2, 0}, 1024).reply, 0x21);
}

TEST(ScsiResponderTest, ModeSenseAnswersCachingPageWithConsistentLengths) {
    ScsiResponder disk = Disk();
    const Outcome six = Execute(disk, {0x1A, 0, 0x3F, 0, 255, 0}, 255);
    EXPECT_EQ(six.reply.status, kScsiGood);
    EXPECT_EQ(six.data[0], 4 + 20 - 1);
    EXPECT_EQ(six.data[2] & 0x80, 0) << "not write-protected";
    EXPECT_EQ(six.data[3], 0) << "no block descriptors";
    EXPECT_EQ(six.data[4], 0x08);
    const Outcome ten = Execute(disk, {0x5A, 0, 0x08, 0, 0, 0, 0, 0, 255, 0}, 255);
    EXPECT_EQ(ten.data[0] << 8 | ten.data[1], 8 + 20 - 2);
    EXPECT_EQ(ten.data[8], 0x08);
    ExpectIllegalRequest(Execute(disk, {0x1A, 0, 0x1C, 0, 255, 0}, 255).reply, 0x24);
}

TEST(ScsiResponderTest, HousekeepingCommandsSucceedAndOthersAreRefused) {
    ScsiResponder disk = Disk();
    for (const std::uint8_t op : {std::uint8_t{0x00}, std::uint8_t{0x1B}, std::uint8_t{0x1E}})
        EXPECT_EQ(Execute(disk, {op, 0, 0, 0, 0, 0}, 0).reply.status, kScsiGood) << int{op};
    EXPECT_EQ(Execute(disk, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0).reply.status, kScsiGood);
    const Outcome sense = Execute(disk, {0x03, 0, 0, 0, 18, 0}, 18);
    EXPECT_EQ(sense.data[0], 0x70);
    EXPECT_EQ(sense.data[2], 0x00);
    ExpectIllegalRequest(Execute(disk, {0xA3, 0x0C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0).reply, 0x20);
    ExpectIllegalRequest(Execute(disk, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512).reply, 0x20);
    // Vendor opcodes on a door without a model are just unknown opcodes.
    ExpectIllegalRequest(Execute(disk, std::vector<std::uint8_t>(16, 0x87), 2).reply, 0x20);
}

TEST(ScsiResponderTest, VendorOpcodesReachTheModelAndItsRefusalsComeBackAsCheckCondition) {
    std::vector<std::size_t> cdbLengths;
    std::vector<bool> directions;
    RequestOutcome next = RequestOutcome::Ok;
    ScsiResponder disk({true, "S", 2048},
                       [&](const std::uint8_t*, std::size_t cdbLength, bool toDevice,
                           std::uint8_t* buffer, std::uint32_t length) {
                           cdbLengths.push_back(cdbLength);
                           directions.push_back(toDevice);
                           if (!toDevice && length >= 1) buffer[0] = 0x5A;
                           return next;
                       });
    std::vector<std::uint8_t> cdb(16, 0);
    cdb[0] = 0x85;
    const Outcome read = Execute(disk, cdb, 8);
    EXPECT_EQ(read.reply.status, kScsiGood);
    EXPECT_EQ(read.data[0], 0x5A);
    cdb[0] = 0x86;
    next = RequestOutcome::Failed;
    const Outcome failed = Execute(disk, cdb, 8);
    ExpectIllegalRequest(failed.reply, 0x24);
    EXPECT_EQ(failed.reply.vendorOutcome, RequestOutcome::Failed);
    cdb[0] = 0x87;
    next = RequestOutcome::Unplugged;
    const Outcome gone = Execute(disk, cdb, 2);
    ExpectIllegalRequest(gone.reply, 0x24);
    EXPECT_TRUE(gone.reply.unplugged);
    EXPECT_EQ(gone.reply.vendorOutcome, RequestOutcome::Unplugged);
    next = RequestOutcome::NotSupported;
    ExpectIllegalRequest(Execute(disk, cdb, 2).reply, 0x20);
    EXPECT_EQ(cdbLengths, (std::vector<std::size_t>{16, 16, 16, 16}));
    EXPECT_EQ(directions, (std::vector<bool>{false, true, false, false}));
}

TEST(ScsiResponderTest, IdentifyThroughTheDeviceModelWithPaddedCdbs) {
    DeviceModel model;
    ScsiResponder disk({true, "S", 2048},
                       [&model](const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                                std::uint8_t* buffer, std::uint32_t length) {
                           return model.Handle(cdb, cdbLength, toDevice, buffer, length);
                       });
    // What target core hands the door for the product's 10-byte identify: 16 bytes.
    const std::vector<std::uint8_t> cdb{0x87, 0, 0, 0, 0, 2, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0};
    const Outcome run = Execute(disk, cdb, 2, 0);
    EXPECT_EQ(run.reply.status, kScsiGood);
    EXPECT_EQ(run.data, (std::vector<std::uint8_t>{0xAA, 0x55}));
    // What SG_IO hands the umockdev door: the 10 bytes as the product sent them.
    const std::vector<std::uint8_t> ten(cdb.begin(), cdb.begin() + 10);
    EXPECT_EQ(Execute(disk, ten, 2, 0).data, (std::vector<std::uint8_t>{0xAA, 0x55}));
    // What usb-storage hands the USB door for an interface of subclass 02: 12 bytes.
    const std::vector<std::uint8_t> twelve(cdb.begin(), cdb.begin() + 12);
    EXPECT_EQ(Execute(disk, twelve, 2, 0).data, (std::vector<std::uint8_t>{0xAA, 0x55}));
    ASSERT_EQ(model.Log().size(), 3u);
    for (const auto& entry : model.Log()) EXPECT_TRUE(entry.verdict.empty()) << entry.verdict;
}

TEST(ScsiResponderTest, CdbLengthFollowsOpcodeGroups) {
    EXPECT_EQ(ScsiResponder::CdbLengthOf(0x12), 6u);
    EXPECT_EQ(ScsiResponder::CdbLengthOf(0x28), 10u);
    EXPECT_EQ(ScsiResponder::CdbLengthOf(0x5A), 10u);
    EXPECT_EQ(ScsiResponder::CdbLengthOf(0x85), 16u);
    EXPECT_EQ(ScsiResponder::CdbLengthOf(0xA3), 12u);
    EXPECT_EQ(ScsiResponder::CdbLengthOf(0x7F), 0u);
    ScsiResponder disk = Disk();
    ExpectIllegalRequest(Execute(disk, {0x28, 0, 0, 0, 0, 0}, 0).reply, 0x20);  // cut short
}
