// The virtual device model alone: what it answers, what it refuses, and the faults it plays.
// Requests are built here by hand, independent of the product's transport code, so that a
// fault in either shows up as a disagreement.

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "vdev/DeviceModel.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::array<std::uint8_t, 16> Cdb(std::uint8_t opcode, std::uint32_t length) {
    return {opcode,
            0,
            static_cast<std::uint8_t>(length >> 24),
            static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8),
            static_cast<std::uint8_t>(length),
            0,
            2,
            0,
            0};
}

Bytes Frame(std::uint8_t code, std::uint8_t p0 = 0, std::uint8_t p1 = 0, std::uint8_t p2 = 0) {
    return {0xF6, 0x00, code, p0, p1, p2, static_cast<std::uint8_t>(code ^ p0 ^ p1 ^ p2), 0xF6};
}

Bytes StartFrame(unsigned start, unsigned end) {
    return Frame(0xFF, static_cast<std::uint8_t>(start >> 4),
                 static_cast<std::uint8_t>(((start & 0x0F) << 4) + (end >> 8)),
                 static_cast<std::uint8_t>(end & 0xFF));
}

Bytes Chunk(const Bytes& block, unsigned i) {
    const std::size_t begin = i * 320;
    const std::size_t size = i < 3 ? 320 : 64;
    Bytes chunk(block.begin() + static_cast<long>(begin),
                block.begin() + static_cast<long>(begin + size));
    chunk.push_back(std::accumulate(
        chunk.begin(), chunk.end(), std::uint8_t{0},
        [](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a ^ b); }));
    return chunk;
}

Bytes Pattern(unsigned seed) {
    Bytes block(1024);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>((i * 7 + seed * 31) ^ (i >> 8));
    }
    return block;
}

// The tool's side of the conversation, reduced to what the tests need.
struct Host {
    DeviceModel model;

    RequestOutcome Write(Bytes data) {
        auto cdb = Cdb(0x86, static_cast<std::uint32_t>(data.size()));
        return model.Handle(cdb.data(), 10, true, data.data(),
                            static_cast<std::uint32_t>(data.size()));
    }
    RequestOutcome Read(std::uint32_t length, Bytes* out = nullptr) {
        Bytes buffer(length, 0xEE);
        auto cdb = Cdb(0x85, length);
        RequestOutcome outcome = model.Handle(cdb.data(), 10, false, buffer.data(), length);
        if (out != nullptr) {
            *out = buffer;
        }
        return outcome;
    }
    Bytes Identify() {
        Bytes reply(2, 0);
        auto cdb = Cdb(0x87, 2);
        model.Handle(cdb.data(), 10, false, reply.data(), 2);
        return reply;
    }
    Bytes Query() {
        Bytes reply;
        EXPECT_EQ(Write(Frame(0xE8)), RequestOutcome::Ok);
        EXPECT_EQ(Read(27, &reply), RequestOutcome::Ok);
        return reply;
    }
    // Sends one block's four chunks and reads its status.
    Bytes SendBlock(const Bytes& block) {
        for (unsigned i = 0; i < 4; ++i) {
            EXPECT_EQ(Write(Chunk(block, i)), RequestOutcome::Ok) << "chunk " << i;
        }
        Bytes status;
        EXPECT_EQ(Read(8, &status), RequestOutcome::Ok);
        return status;
    }
    const std::string& LastVerdict() const { return model.Log().back().verdict; }
};

std::uint16_t StatusBlock(const Bytes& status) {
    return static_cast<std::uint16_t>(status[3] << 8 | status[4]);
}

TEST(DeviceModelAnswers, IdentifyAnswersAa55AndSwappedWhenScripted) {
    Host host;
    EXPECT_EQ(host.Identify(), (Bytes{0xAA, 0x55}));
    host.model.Faults().identifyAnswersSwapped = true;
    EXPECT_EQ(host.Identify(), (Bytes{0x55, 0xAA}));
}

TEST(DeviceModelAnswers, QueryReplyCarriesEveryFieldInItsPlace) {
    DeviceConfig config;
    config.family = "GD";
    config.chipId = {0x11, 0x22, 0x33, 0x44, 0x55};
    config.bootType = 7;
    config.version = "V2.0.1";
    config.header = {1, 2, 3, 4, 5, 6, 7, 8};
    Host host{DeviceModel(config)};
    const Bytes reply = host.Query();
    const Bytes expected = {1,   2,   3,    4,    5,    6,   7,    8,     // header
                            0,                                            // byte 8
                            'V', '2', '.',  '0',  '.',  '1', 0,    0,     // version, zero-padded
                            'G', 'D', 0x11, 0x22, 0x33, 7,   0x44, 0x55,  // family, chip, boot
                            0,   0};
    EXPECT_EQ(reply, expected);
}

TEST(DeviceModelAnswers, EmptyVersionAndZeroHeaderAreAllZeroAndLongVersionIsCut) {
    DeviceConfig config;
    config.version = "";
    config.header.fill(0);
    Host host{DeviceModel(config)};
    Bytes reply = host.Query();
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 17), Bytes(17, 0));

    host.model.Config().version = "V10.20.30";
    reply = host.Query();
    EXPECT_EQ(std::string(reply.begin() + 9, reply.begin() + 17), "V10.20.3");
    EXPECT_EQ(reply[17], 'S');
}

TEST(DeviceModelAnswers, OneQueryReplyPerQueryFrame) {
    Host host;
    EXPECT_EQ(host.Read(27), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "read of 27 bytes with nothing to answer");
    host.Query();
    EXPECT_EQ(host.Read(27), RequestOutcome::Failed);
}

TEST(DeviceModelUpgrade, StartFrameUnpacksBothBlockNumbers) {
    Host host;
    const Bytes frame = StartFrame(16, 100);
    EXPECT_EQ(frame, (Bytes{0xF6, 0x00, 0xFF, 0x01, 0x00, 0x64, 0x9A, 0xF6}));
    ASSERT_EQ(host.Write(frame), RequestOutcome::Ok);
    EXPECT_EQ(host.model.StartBlock(), 16);
    EXPECT_EQ(host.model.EndBlock(), 100);

    ASSERT_EQ(host.Write(StartFrame(0x1AB, 512)), RequestOutcome::Ok);
    EXPECT_EQ(host.model.StartBlock(), 0x1AB);
    EXPECT_EQ(host.model.EndBlock(), 512);
}

TEST(DeviceModelUpgrade, StartFrameRangesOutsideTheImageOrEmptyAreRefused) {
    Host host;
    for (auto [start, end] : {std::pair{15U, 100U}, {100U, 100U}, {101U, 100U}, {16U, 513U}}) {
        EXPECT_EQ(host.Write(StartFrame(start, end)), RequestOutcome::Failed)
            << start << ".." << end;
        EXPECT_FALSE(host.model.RunStarted());
    }
}

TEST(DeviceModelUpgrade, BlocksAreStoredInOrderAndConfirmedByNumber) {
    Host host;
    ASSERT_EQ(host.Write(StartFrame(16, 18)), RequestOutcome::Ok);
    const Bytes first = Pattern(1);
    const Bytes second = Pattern(2);
    Bytes status = host.SendBlock(first);
    EXPECT_EQ(status, (Bytes{0, 0, 0xFF, 0x00, 0x10, 0, 0, 0}));
    status = host.SendBlock(second);
    EXPECT_EQ(StatusBlock(status), 17);
    EXPECT_EQ(host.model.BlocksAccepted(), 2U);

    const auto& flash = host.model.FlashImage();
    EXPECT_TRUE(std::equal(first.begin(), first.end(), flash.begin() + 16 * 1024));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), flash.begin() + 17 * 1024));
    EXPECT_EQ(flash[16 * 1024 - 1], 0xFF);
    EXPECT_EQ(flash[18 * 1024], 0xFF);

    // The range is done: a further block is refused.
    EXPECT_EQ(host.Write(Chunk(Pattern(3), 0)), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "block 18 is beyond the range");
}

TEST(DeviceModelUpgrade, LastChunkCheckByteCoversOnlyItsOwn64Bytes) {
    Host host;
    ASSERT_EQ(host.Write(StartFrame(16, 17)), RequestOutcome::Ok);
    Bytes block = Pattern(4);
    block[0] ^= 0x5A;  // whole-block XOR now differs from the last chunk's own XOR
    for (unsigned i = 0; i < 3; ++i) {
        ASSERT_EQ(host.Write(Chunk(block, i)), RequestOutcome::Ok);
    }
    Bytes wrong = Chunk(block, 3);
    wrong.back() = std::accumulate(
        block.begin(), block.end(), std::uint8_t{0},
        [](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a ^ b); });
    ASSERT_NE(wrong.back(), Chunk(block, 3).back());
    EXPECT_EQ(host.Write(wrong), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "bad check byte in chunk 3 of block 16");
}

TEST(DeviceModelUpgrade, AStalledRunCanStartOverWithQueryAndStartFrames) {
    Host host;
    ASSERT_EQ(host.Write(StartFrame(16, 20)), RequestOutcome::Ok);
    ASSERT_EQ(host.Write(Chunk(Pattern(1), 0)), RequestOutcome::Ok);
    host.Query();  // drops the half-sent block
    ASSERT_EQ(host.Write(StartFrame(16, 20)), RequestOutcome::Ok);
    EXPECT_EQ(StatusBlock(host.SendBlock(Pattern(1))), 16);
}

TEST(DeviceModelRefuses, ChunksOutOfPlace) {
    Host host;
    const Bytes block = Pattern(5);
    EXPECT_EQ(host.Write(Chunk(block, 0)), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "chunk before the start frame");

    ASSERT_EQ(host.Write(StartFrame(16, 100)), RequestOutcome::Ok);
    EXPECT_EQ(host.Write(Chunk(block, 3)), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "chunk 0 of block 16 must be 321 bytes");
    EXPECT_EQ(host.Read(8), RequestOutcome::Failed);  // no block to confirm yet

    for (unsigned i = 0; i < 3; ++i) {
        ASSERT_EQ(host.Write(Chunk(block, i)), RequestOutcome::Ok);
    }
    EXPECT_EQ(host.Write(Chunk(block, 0)), RequestOutcome::Failed);  // 321 where 65 belongs

    for (unsigned i = 0; i < 4; ++i) {
        ASSERT_EQ(host.Write(Chunk(block, i)), RequestOutcome::Ok);
    }
    EXPECT_EQ(host.Write(Chunk(block, 0)), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "chunk before the block status was read");
    EXPECT_EQ(host.Read(27), RequestOutcome::Failed);  // a status is due, not a query reply
    EXPECT_EQ(StatusBlock([&] {
                  Bytes status;
                  host.Read(8, &status);
                  return status;
              }()),
              16);
}

TEST(DeviceModelRefuses, BadChunkCheckByteAndBadFrames) {
    Host host;
    ASSERT_EQ(host.Write(StartFrame(16, 100)), RequestOutcome::Ok);
    Bytes chunk = Chunk(Pattern(6), 0);
    chunk.back() ^= 1;
    EXPECT_EQ(host.Write(chunk), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "bad check byte in chunk 0 of block 16");

    Bytes frame = Frame(0xE8);
    frame[6] ^= 1;
    EXPECT_EQ(host.Write(frame), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "frame check byte wrong");
    frame = Frame(0xE8);
    frame[7] = 0;
    EXPECT_EQ(host.Write(frame), RequestOutcome::Failed);
    EXPECT_EQ(host.Write(Frame(0x12)), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "unknown command code");
    EXPECT_EQ(host.Write(Bytes(100, 0)), RequestOutcome::Failed);
    EXPECT_EQ(host.LastVerdict(), "write of 100 bytes");
}

TEST(DeviceModelRefuses, CdbsThatBreakTheLayout) {
    struct Case {
        std::size_t byte;
        std::uint8_t value;
        const char* verdict;
    };
    for (const Case& c :
         {Case{1, 1, "CDB byte 1 is not 0"}, Case{6, 1, "CDB byte 6 is not 0"},
          Case{7, 0, "CDB byte 7 is not 2"}, Case{8, 1, "CDB byte 8 is not 0"},
          Case{9, 1, "CDB byte 9 is not 0"}, Case{5, 3, "CDB length 3 but 2 bytes transferred"}}) {
        DeviceModel model;
        auto cdb = Cdb(0x87, 2);
        cdb[c.byte] = c.value;
        std::uint8_t reply[2] = {};
        EXPECT_EQ(model.Handle(cdb.data(), 10, false, reply, 2), RequestOutcome::Failed);
        EXPECT_EQ(model.Log().back().verdict, c.verdict);
        EXPECT_EQ(reply[0], 0) << "a refused request returns no data";
    }
}

TEST(DeviceModelRefuses, PaddedCdbsOnlyWithAZeroTailAndOtherLengthsNever) {
    DeviceModel model;
    auto cdb = Cdb(0x87, 2);
    std::uint8_t reply[2] = {};
    // usb-storage pads to 12 for subclass 02, target core to 16: both are the same command.
    for (const std::size_t padded : {12U, 16U}) {
        reply[0] = 0;
        EXPECT_EQ(model.Handle(cdb.data(), padded, false, reply, 2), RequestOutcome::Ok);
        EXPECT_EQ(reply[0], 0xAA) << padded;
    }
    cdb[11] = 1;
    EXPECT_EQ(model.Handle(cdb.data(), 12, false, reply, 2), RequestOutcome::Failed);
    EXPECT_EQ(model.Log().back().verdict, "CDB byte 11 is not 0");
    cdb[11] = 0;
    EXPECT_EQ(model.Handle(cdb.data(), 9, false, reply, 2), RequestOutcome::Failed);
    EXPECT_EQ(model.Handle(cdb.data(), 17, false, reply, 2), RequestOutcome::Failed);
}

TEST(DeviceModelRefuses, WrongDirectionAndWrongIdentifyLength) {
    DeviceModel model;
    std::uint8_t buffer[8] = {};
    auto identify = Cdb(0x87, 2);
    EXPECT_EQ(model.Handle(identify.data(), 10, true, buffer, 2), RequestOutcome::Failed);
    EXPECT_EQ(model.Log().back().verdict, "data sent to the device on a read command");
    auto write = Cdb(0x86, 8);
    EXPECT_EQ(model.Handle(write.data(), 10, false, buffer, 8), RequestOutcome::Failed);
    EXPECT_EQ(model.Log().back().verdict, "data read from the device on a write command");
    auto identify8 = Cdb(0x87, 8);
    EXPECT_EQ(model.Handle(identify8.data(), 10, false, buffer, 8), RequestOutcome::Failed);
}

TEST(DeviceModelRefuses, OtherOpcodesAndOrdinaryDrivesAreNotSupported) {
    DeviceModel model;
    auto inquiry = Cdb(0x12, 36);
    std::uint8_t buffer[36] = {};
    EXPECT_EQ(model.Handle(inquiry.data(), 10, false, buffer, 36), RequestOutcome::NotSupported);

    DeviceConfig config;
    config.answersVendorCommands = false;
    Host plain{DeviceModel(config)};
    EXPECT_EQ(plain.Identify(), (Bytes{0, 0}));
    EXPECT_EQ(plain.model.Log().back().outcome, RequestOutcome::NotSupported);
}

TEST(DeviceModelFaults, NumberedRequestWriteAndReadFailuresLeaveTheStateAlone) {
    FaultScript faults;
    faults.failCommandAt = 1;  // identify is request 1
    faults.failWriteAt = 2;    // the start frame
    faults.failReadAt = 1;     // the query reply
    Host host{DeviceModel({}, faults)};
    EXPECT_EQ(host.Identify(), (Bytes{0, 0}));
    EXPECT_EQ(host.LastVerdict(), "scripted: request 1 fails");
    ASSERT_EQ(host.Write(Frame(0xE8)), RequestOutcome::Ok);
    EXPECT_EQ(host.Read(27), RequestOutcome::Failed);
    EXPECT_EQ(host.Read(27), RequestOutcome::Ok) << "the reply is still due after a lost read";
    EXPECT_EQ(host.Write(StartFrame(16, 17)), RequestOutcome::Failed);
    EXPECT_FALSE(host.model.RunStarted());
    EXPECT_EQ(host.Write(StartFrame(16, 17)), RequestOutcome::Ok);
}

TEST(DeviceModelFaults, WrongStatusFieldsForTheScriptedBlocks) {
    FaultScript faults;
    faults.badStatusByte2AtBlock = 16;
    faults.wrongBlockNumberAtBlock = 17;
    faults.nonzeroByte5AtBlock = 18;
    Host host{DeviceModel({}, faults)};
    ASSERT_EQ(host.Write(StartFrame(16, 20)), RequestOutcome::Ok);

    Bytes status = host.SendBlock(Pattern(1));
    EXPECT_EQ(status[2], 0x00);
    EXPECT_EQ(StatusBlock(status), 16) << "only byte 2 says the block was not accepted";
    EXPECT_EQ(host.model.BlocksAccepted(), 0U) << "a block not accepted is not kept";
    EXPECT_EQ(host.model.FlashImage()[16 * 1024], 0xFF);

    host.model.Faults().badStatusByte2AtBlock.reset();
    status = host.SendBlock(Pattern(1));
    EXPECT_EQ(status[2], 0xFF);
    EXPECT_EQ(StatusBlock(status), 16);

    status = host.SendBlock(Pattern(2));
    EXPECT_EQ(StatusBlock(status), 16) << "block 17 is reported as the one before";
    status = host.SendBlock(Pattern(3));
    EXPECT_EQ(StatusBlock(status), 18);
    EXPECT_EQ(status[5], 1);
}

TEST(DeviceModelFaults, UnplugAfterABlockFailsEveryLaterRequest) {
    FaultScript faults;
    faults.unplugAfterBlock = 17;
    Host host{DeviceModel({}, faults)};
    ASSERT_EQ(host.Write(StartFrame(16, 20)), RequestOutcome::Ok);
    host.SendBlock(Pattern(1));
    EXPECT_FALSE(host.model.Unplugged());
    EXPECT_EQ(StatusBlock(host.SendBlock(Pattern(2))), 17) << "block 17 itself is confirmed";
    EXPECT_TRUE(host.model.Unplugged());
    EXPECT_EQ(host.Write(Chunk(Pattern(3), 0)), RequestOutcome::Unplugged);
    EXPECT_EQ(host.Identify(), (Bytes{0, 0}));
}

TEST(DeviceModelFaults, DeniedVendorCommandsAnswerNothing) {
    FaultScript faults;
    faults.denyVendorCommands = true;
    Host host{DeviceModel({}, faults)};
    EXPECT_EQ(host.Identify(), (Bytes{0, 0}));
    EXPECT_EQ(host.model.Log().back().outcome, RequestOutcome::PermissionDenied);
}

TEST(DeviceModelLog, RecordsEveryRequestAsReceived) {
    Host host;
    host.Identify();
    host.Write(Frame(0x12));
    ASSERT_EQ(host.model.Log().size(), 2U);
    const LoggedRequest& first = host.model.Log()[0];
    EXPECT_EQ(first.number, 1U);
    EXPECT_EQ(first.cdbLength, 10U);
    EXPECT_EQ(first.cdb[7], 2);
    EXPECT_FALSE(first.toDevice);
    EXPECT_EQ(first.dataIn, (Bytes{0xAA, 0x55}));
    EXPECT_EQ(DescribeRequest(first), "#1 identify(87) in 2 bytes: ok [AA 55]");
    const LoggedRequest& second = host.model.Log()[1];
    EXPECT_EQ(second.dataOut, Frame(0x12));
    EXPECT_EQ(DescribeRequest(second),
              "#2 write(86) out 8 bytes: failed (unknown command code) "
              "[F6 00 12 00 00 00 12 F6]");
}

}  // namespace
