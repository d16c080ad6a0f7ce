// Intel HEX records: framing, checksum, address mapping, the end of the load, and the buffered
// reader held against a one-character-at-a-time reading of the same rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "app/ControlIds.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "image/LoadAnalysis.h"
#include "image/RawBinaryLoader.h"
#include "tests/support/FakeDialog.h"
#include "tests/support/HexReference.h"
#include "tests/support/ImageBuilder.h"

namespace {

std::string ToLower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Everything in text before its type 05 line.
std::string WithoutStartRecord(const std::string& text) {
    return text.substr(0, text.find(HexRecord(0, 0x05, {0x08, 0x00, 0x00, 0x00})));
}

class HexLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&g_image, 0, sizeof g_image);
        dlg.ResetUi();
    }

    bool Load(const std::string& text, const std::string& name = "fw.hex") {
        const std::string path = dir.File(name);
        WriteBytes(path, {text.begin(), text.end()});
        dlg.files.push_back(path);
        return LoadHexFile(dlg, &report);
    }

    // Records alone, into a fresh erased image.
    HexReadOutcome Read(const std::string& text, std::vector<std::size_t> pieces = {}) {
        std::memset(image.data, kErasedByte, sizeof image.data);
        MemoryByteSource source(text, std::move(pieces));
        return ReadHexRecords(source, image, report);
    }

    bool ImageHolds(const FirmwareImage& in, std::uint32_t at,
                    const std::vector<std::uint8_t>& bytes) {
        return std::equal(bytes.begin(), bytes.end(), in.data + at);
    }

    TempDir dir;
    FakeDialog dlg;
    HexLoadReport report;
    FirmwareImage image{};
    const std::vector<std::uint8_t> raw = BuildRawImage({});
};

TEST(ParseHexDigits, FollowsTheDigitRuleForEveryCharacter) {
    EXPECT_EQ(ParseHexDigits("FF", 2), 255);
    EXPECT_EQ(ParseHexDigits("ff", 2), 255);
    EXPECT_EQ(ParseHexDigits("0800", 4), 0x0800);
    EXPECT_EQ(ParseHexDigits("aB", 2), 0xAB);
    // Not validated: 'G' is 16, '/' is -1, a byte above 0x7F counts unsigned.
    EXPECT_EQ(ParseHexDigits("G0", 2), 16 * 16);
    EXPECT_EQ(ParseHexDigits("0G", 2), ParseHexDigits("10", 2));
    EXPECT_EQ(ParseHexDigits("/F", 2), -1);
    EXPECT_EQ(ParseHexDigits("\xFF", 1), 0xFF - 48);
    EXPECT_EQ(ParseHexDigits("z", 1), 'z' - 87);
    EXPECT_EQ(ParseHexDigits("", 0), 0);
}

TEST_F(HexLoadTest, GoodFileLoadsLikeTheRawImage) {
    ASSERT_TRUE(Load(HexTextOf(raw)));
    EXPECT_TRUE(dlg.messages.empty());
    EXPECT_EQ(g_image.startBlock, 16);
    EXPECT_EQ(g_image.endBlock, 100);
    EXPECT_EQ(dlg.m_strSpace, "Space (16-100K)");
    EXPECT_EQ(dlg.m_strProgramFile, dir.File("fw.hex"));
    EXPECT_TRUE(dlg.Enabled(IDC_UPGRADE));
    EXPECT_TRUE(ImageHolds(g_image, 0, raw));
    EXPECT_TRUE(std::all_of(g_image.data + raw.size(), g_image.data + kImageSize,
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(report.maxAddress, raw.size() - 1);
    EXPECT_EQ(report.skippedBytes, 0u);
    ASSERT_EQ(dlg.fileRequests.size(), 1u);
    EXPECT_EQ(dlg.fileRequests[0].mode, FileDialogMode::Open);
    EXPECT_EQ(dlg.fileRequests[0].defaultExtension, "hex");
    EXPECT_EQ(dlg.fileRequests[0].filter, "M3 HEX files (*.hex)|*.hex|");
}

TEST_F(HexLoadTest, LowerCaseDigitsDecodeAsUpperCase) {
    ASSERT_TRUE(Load(ToLower(HexTextOf(raw))));
    EXPECT_TRUE(ImageHolds(g_image, 0, raw));
}

TEST_F(HexLoadTest, CancelAndOpenFailureChangeNothing) {
    ASSERT_TRUE(Load(HexTextOf(raw)));
    EXPECT_FALSE(LoadHexFile(dlg));  // no file queued: Cancel
    EXPECT_TRUE(dlg.messages.empty());
    dlg.files.push_back(dir.File("missing.hex"));
    EXPECT_FALSE(LoadHexFile(dlg));
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"File open error!"});
    EXPECT_EQ(dlg.m_strProgramFile, dir.File("fw.hex"));
    EXPECT_TRUE(ImageHolds(g_image, 0, raw));
}

TEST_F(HexLoadTest, RejectedFileLeavesThePreviousImageRangePathAndSpace) {
    ImageLayout first;
    first.endBlock = 40;
    const auto firstBytes = BuildRawImage(first);
    WriteBytes(dir.File("first.bin"), firstBytes);
    dlg.files.push_back(dir.File("first.bin"));
    ASSERT_TRUE(LoadProgramBinary(dlg));

    // Bad framing, missing start record, and a good file whose trailer is wrong.
    ImageLayout noFamily;
    noFamily.family = "XX";
    for (const std::string& text :
         {Replace(HexTextOf(raw), "\r\n", "\n"), WithoutStartRecord(HexTextOf(raw)),
          HexTextOf(BuildRawImage(noFamily))}) {
        dlg.messages.clear();
        EXPECT_FALSE(Load(text));
        EXPECT_EQ(dlg.messages, std::vector<std::string>{"File read error!"});
        EXPECT_EQ(g_image.startBlock, 16);
        EXPECT_EQ(g_image.endBlock, 40);
        EXPECT_EQ(dlg.m_strSpace, "Space (16-40K)");
        EXPECT_EQ(dlg.m_strProgramFile, dir.File("first.bin"));
        EXPECT_TRUE(ImageHolds(g_image, 0, firstBytes));
    }
}

TEST_F(HexLoadTest, LineFeedAloneIsOneCharacterShort) {
    const std::string line = Replace(HexRecord(0x4000, 0x00, {1, 2, 3}), "\r\n", "\n");
    EXPECT_EQ(Read(line + HexRecord(0, 0x05, {0, 0, 0, 0})), HexReadOutcome::Rejected);
    // Any one character will do in the carriage return's place.
    const std::string other = Replace(HexRecord(0x4000, 0x00, {1, 2, 3}), "\r\n", "x\n");
    EXPECT_EQ(Read(other + HexRecord(0, 0x05, {0, 0, 0, 0})), HexReadOutcome::StartRecord);
    EXPECT_TRUE(ImageHolds(image, 0x4000, {1, 2, 3}));
}

TEST_F(HexLoadTest, EndOfFileRecordDoesNotEndTheLoad) {
    EXPECT_EQ(Read(":00000001FF\r\n"), HexReadOutcome::Rejected);
    EXPECT_FALSE(Load(WithoutStartRecord(HexTextOf(raw)) + ":00000001FF\r\n"));
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"File read error!"});
}

TEST_F(HexLoadTest, UpperAddressKeepsOnlyItsLow11Bits) {
    const std::vector<std::uint8_t> data = {'P', 'O', 'R', 'I', 9, 8, 7};
    ASSERT_EQ(Read(":020000040800F2\r\n" + HexRecord(0x4000, 0x00, data) + HexRecord(0, 5, {})),
              HexReadOutcome::StartRecord);
    EXPECT_TRUE(ImageHolds(image, 16 * kBlockSize, data));  // block 16
    EXPECT_EQ(report.maxAddress, 16 * kBlockSize + data.size() - 1);

    ASSERT_EQ(Read(":020000040801F1\r\n" + HexRecord(0x0010, 0x00, data) + HexRecord(0, 5, {})),
              HexReadOutcome::StartRecord);
    EXPECT_TRUE(ImageHolds(image, 65536 + 0x10, data));

    // 0x1801 and 0x0801 agree in their low 11 bits.
    ASSERT_EQ(Read(HexRecord(0, 0x04, {0x18, 0x01}) + HexRecord(0x0010, 0x00, data) +
                   HexRecord(0, 5, {})),
              HexReadOutcome::StartRecord);
    EXPECT_TRUE(ImageHolds(image, 65536 + 0x10, data));
}

TEST_F(HexLoadTest, FileWithoutDataRecordsIsRejectedByTheAnalysis) {
    EXPECT_FALSE(
        Load(":020000040800F2\r\n" + HexRecord(0, 0x05, {0x08, 0, 0, 0}) + ":00000001FF\r\n"));
    EXPECT_EQ(report.maxAddress, 0u);
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"File read error!"});
}

TEST_F(HexLoadTest, RecordsInAnyOrderAndMaxAddressIsTheHighestWritten) {
    // The same records, last first: the highest byte still sets the length.
    const std::string text = HexTextOf(raw);
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t next = text.find('\n', at) + 1;
        lines.push_back(text.substr(at, next - at));
        at = next;
    }
    // Lines: 0 sets the upper address 0x0800, 1..4096 its data, 4097 sets 0x0801, 4098..6401
    // its data, then the start and end records. Highest segment first, each one backwards.
    ASSERT_EQ(lines.size(), 6404u);
    std::string reversed = lines[4097];
    for (std::size_t i = 6402; i-- > 4098;) reversed += lines[i];
    reversed += lines[0];
    for (std::size_t i = 4097; i-- > 1;) reversed += lines[i];
    reversed += lines[6402];
    ASSERT_TRUE(Load(reversed));
    EXPECT_EQ(report.maxAddress, raw.size() - 1);
    EXPECT_EQ(g_image.endBlock, 100);
    EXPECT_TRUE(ImageHolds(g_image, 0, raw));
}

TEST_F(HexLoadTest, StartRecordNeedsItsWholeLineAndEndsReading) {
    const std::string body = WithoutStartRecord(HexTextOf(raw));
    const std::string start = HexRecord(0, 0x05, {0x08, 0, 0, 0});
    EXPECT_FALSE(Load(body + start.substr(0, start.size() - 1)));  // no line feed
    EXPECT_FALSE(Load(body + start.substr(0, start.size() - 2)));  // neither CR nor LF

    // Garbage and an endless line after the start record are never looked at.
    EXPECT_TRUE(Load(body + start + "garbage\r\n" + std::string(2000, 'x')));

    // Nor is the file read any further: a read after the start line would fail.
    std::memset(image.data, 0xFF, sizeof image.data);
    const std::string upToStart = body + start;
    MemoryByteSource source(upToStart + ":00000001FF\r\n", {}, upToStart.size());
    EXPECT_EQ(ReadHexRecords(source, image, report), HexReadOutcome::StartRecord);
    EXPECT_EQ(source.Delivered(), upToStart.size());
}

TEST_F(HexLoadTest, LineLengthLimitIs523CharactersWithTheLineFeed) {
    // 255 data bytes make the longest line there can be.
    const std::vector<std::uint8_t> data(255, 0x5A);
    const std::string longest = HexRecord(0x4000, 0x00, data);
    ASSERT_EQ(longest.size(), kHexMaxLine);
    EXPECT_EQ(Read(longest + HexRecord(0, 5, {})), HexReadOutcome::StartRecord);
    EXPECT_TRUE(ImageHolds(image, 0x4000, data));

    // 522 characters, then the end of the file, or a read that fails: the reader needs more.
    const std::string chars522(522, '0');
    EXPECT_EQ(Read(chars522), HexReadOutcome::Rejected);
    {
        MemoryByteSource source(chars522 + "\n", {}, 522);
        EXPECT_EQ(ReadHexRecords(source, image, report), HexReadOutcome::ReadError);
    }
    // 523 characters without a line feed fail at once, whatever follows: even a failing read
    // or a line feed right behind is never reached.
    const std::string chars523 = longest.substr(0, 522) + "\r";
    EXPECT_EQ(Read(chars523 + "\n" + HexRecord(0, 5, {})), HexReadOutcome::Rejected);
    {
        MemoryByteSource source(chars523 + "\n", {}, 523);
        EXPECT_EQ(ReadHexRecords(source, image, report), HexReadOutcome::Rejected);
        EXPECT_EQ(source.ReadCalls(), 1);
    }
}

TEST_F(HexLoadTest, ChecksumCatchesANonHexCharacterUnlessItHappensToAddUp) {
    const std::string good = HexRecord(0x4000, 0x00, {0x10, 0xA0});
    std::string bad = good;
    bad[11] = 'G';  // 'A' of A0 becomes 16 instead of 10
    EXPECT_EQ(Read(bad + HexRecord(0, 5, {})), HexReadOutcome::Rejected);

    // "0G" is 0*16 + 16, the same value as "10": the checksum cannot tell.
    std::string same = good;
    same.replace(9, 2, "0G");
    EXPECT_EQ(Read(same + HexRecord(0, 5, {})), HexReadOutcome::StartRecord);
    EXPECT_TRUE(ImageHolds(image, 0x4000, {0x10, 0xA0}));

    EXPECT_EQ(Read(Replace(good, ":", ";") + HexRecord(0, 5, {})), HexReadOutcome::Rejected);
}

TEST_F(HexLoadTest, BytesOutsideTheImageAreSkippedAndCounted) {
    // 0x0807FFF8..0x08080007: the first eight bytes fit (a valid trailer), the rest do not;
    // 0x08080000 is past the end, and so is the highest address a record can reach.
    const std::vector<std::uint8_t> data = {'S', 'T', 1, 2,  3,  4,  5,  6,
                                            7,   8,   9, 10, 11, 12, 13, 14};
    std::string text = WithoutStartRecord(HexTextOf(raw));
    text += HexRecord(0, 0x04, {0x08, 0x07}) + HexRecord(0xFFF8, 0x00, data);
    text += HexRecord(0, 0x04, {0x08, 0x08}) + HexRecord(0x0000, 0x00, data);
    text += HexRecord(0, 0x04, {0x0F, 0xFF}) + HexRecord(0xFFF0, 0x00, data);
    text += HexRecord(0, 0x05, {0x08, 0, 0, 0});
    ASSERT_TRUE(Load(text));
    EXPECT_EQ(report.skippedBytes, 8u + 16u + 16u);
    EXPECT_EQ(report.maxAddress, kImageSize - 1);
    EXPECT_TRUE(ImageHolds(g_image, kImageSize - 8, {data.begin(), data.begin() + 8}));
    EXPECT_EQ(g_image.endBlock, kImageBlocks);
}

TEST_F(HexLoadTest, FileLayerReadErrorNamesTheSource) {
    const std::string text = HexTextOf(raw);
    MemoryByteSource source(text, {4096}, 10000);
    EXPECT_FALSE(LoadHexFromSource(dlg, source, "fw.hex"));
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Cannot read \"memory\": Input/output error"});
}

TEST_F(HexLoadTest, ShortLineTakesItsMissingFieldsFromTheLineBefore) {
    // ":/F00FD04" has count -1, so its 11 characters are the whole record (the checksum is over
    // count, address and type). Its type 04 reads the upper address from positions 9-12: CR, LF
    // and "01" left there by the line before, which puts the next data outside the image.
    const std::string text =
        ":020000040801F1\r\n:/F00FD04\r\n" + HexRecord(0, 0x00, {1, 2, 3, 4}) + HexRecord(0, 5, {});
    ASSERT_EQ(Read(text), HexReadOutcome::StartRecord);
    EXPECT_EQ(report.skippedBytes, 4u);
    FirmwareImage expected{};
    std::memset(expected.data, 0xFF, sizeof expected.data);
    const HexReferenceResult reference = ReferenceReadHex(text, expected);
    EXPECT_EQ(reference.report.skippedBytes, 4u);
}

// Random damage to good files: the buffered reader, fed in pieces of any size, must decide
// every line exactly as the plain character-at-a-time reading does.
TEST_F(HexLoadTest, BufferedReaderMatchesTheCharacterReaderOnDamagedFiles) {
    std::mt19937 random(20261207);
    const std::string alphabet = "0123456789ABCDEFabcdef:\r\n\n/GZz \x7F\xFF";
    ImageLayout layout;
    layout.endBlock = 18;
    const std::string base = HexTextOf(BuildRawImage(layout), 32);
    static FirmwareImage expected;
    for (int round = 0; round < 300; ++round) {
        std::string text = base;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % text.size();
            const char c = alphabet[random() % alphabet.size()];
            switch (random() % 4) {
                case 0:
                    text[at] = c;
                    break;
                case 1:
                    text.insert(at, 1, c);
                    break;
                case 2:
                    text.erase(at, 1 + random() % 3);
                    break;
                default:
                    text.insert(at, ":/F00FD04\r\n");
                    break;
            }
        }
        std::memset(expected.data, 0xFF, sizeof expected.data);
        const HexReferenceResult want = ReferenceReadHex(text, expected);
        for (const auto& pieces :
             std::vector<std::vector<std::size_t>>{{}, {1}, {3, 7, 64, 1000}}) {
            SCOPED_TRACE("round " + std::to_string(round) + ", " + std::to_string(pieces.size()) +
                         " piece sizes");
            report = {};
            std::memset(image.data, kErasedByte, sizeof image.data);
            MemoryByteSource source(text, pieces);
            ASSERT_EQ(ReadHexRecords(source, image, report), want.outcome);
            // Read one byte at a time, it asks for exactly the characters the plain reading took.
            if (pieces.size() == 1) {
                ASSERT_EQ(source.Delivered(), want.consumed);
            }
            ASSERT_EQ(report.maxAddress, want.report.maxAddress);
            ASSERT_EQ(report.skippedBytes, want.report.skippedBytes);
            ASSERT_EQ(std::memcmp(image.data, expected.data, kImageSize), 0);
        }
    }
}

// The fuzzer's seed files, valid and broken, decided the same way by both readings.
TEST(HexFuzzCorpus, SeedsAgreeWithTheCharacterReader) {
    const auto folder =
        std::filesystem::path(KESTREL_SOURCE_DIR) / "fuzz" / "corpus" / "hex_loader";
    ASSERT_TRUE(std::filesystem::is_directory(folder));
    static FirmwareImage got, want;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto bytes = ReadBytes(entry.path().string());
        const std::string text(bytes.begin(), bytes.end());
        std::memset(got.data, 0xFF, sizeof got.data);
        std::memset(want.data, 0xFF, sizeof want.data);
        HexLoadReport report;
        MemoryByteSource source(text, {5});
        EXPECT_EQ(ReadHexRecords(source, got, report), ReferenceReadHex(text, want).outcome)
            << entry.path();
        EXPECT_EQ(std::memcmp(got.data, want.data, kImageSize), 0) << entry.path();
        ++files;
    }
    EXPECT_GT(files, 3);
}

}  // namespace

// The dialog says only "File read error!"; the report says on which line and why, for the
// command line. Each damage is on line 2, after a good line.
TEST_F(HexLoadTest, ARefusedFileNamesItsLineAndReason) {
    const std::string good = HexRecord(0x4000, 0x00, {0x10, 0xA0});
    const std::string start = HexRecord(0, 5, {});
    std::string badSum = good;
    badSum[12] = '1';  // the checksum's last digit
    const std::string oddDigits = good.substr(0, 9) + "1" + good.substr(9);
    std::string longer = good;
    longer.insert(9, "1010");  // two more bytes than the count says
    const struct {
        std::string text;
        HexRefusal refusal;
        std::uint64_t line;
    } cases[] = {
        {good + badSum + start, HexRefusal::BadChecksum, 2},
        {good + oddDigits + start, HexRefusal::OddDigits, 2},
        {good + longer + start, HexRefusal::LengthMismatch, 2},
        {good + Replace(good, "\r\n", "\n") + start, HexRefusal::NoCarriage, 2},
        {good + Replace(good, ":", ";") + start, HexRefusal::NoColon, 2},
        {good + std::string(600, '0'), HexRefusal::LineTooLong, 2},
        {good + ":00", HexRefusal::NoLineFeed, 2},
        {good + good, HexRefusal::NoStartRecord, 3},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(Load(c.text)) << c.text;
        EXPECT_EQ(dlg.messages.back(), kMsgFileReadError);
        EXPECT_EQ(report.refusal, c.refusal) << c.text;
        EXPECT_EQ(report.refusedLine, c.line) << c.text;
    }
    EXPECT_EQ(HexRefusalText(report),
              "line 3: the file ends without a start address record (type 05)");
    Load(good + start);  // the records pass; the analysis may still refuse the image
    EXPECT_EQ(report.refusal, HexRefusal::None);
}
