// Raw binary load and the analysis that ends every load.
#include <gtest/gtest.h>

#include <cstring>

#include "app/ControlIds.h"
#include "image/FirmwareImage.h"
#include "image/LoadAnalysis.h"
#include "image/RawBinaryLoader.h"
#include "tests/support/FakeDialog.h"
#include "tests/support/ImageBuilder.h"

namespace {

class RawLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&g_image, 0, sizeof g_image);
        dlg.ResetUi();
    }

    bool Load(const std::vector<std::uint8_t>& bytes, const std::string& name = "fw.bin") {
        const std::string path = dir.File(name);
        WriteBytes(path, bytes);
        dlg.files.push_back(path);
        return LoadProgramBinary(dlg);
    }

    TempDir dir;
    FakeDialog dlg;
};

TEST_F(RawLoadTest, GoodImageSetsRangeSpaceTextPathAndButtons) {
    ASSERT_TRUE(Load(BuildRawImage({})));
    EXPECT_TRUE(dlg.messages.empty());
    EXPECT_EQ(g_image.startBlock, 16);
    EXPECT_EQ(g_image.endBlock, 100);
    EXPECT_EQ(g_image.currentBlock, 16);
    EXPECT_EQ(dlg.m_strSpace, "Space (16-100K)");
    EXPECT_EQ(dlg.m_strProgramFile, dir.File("fw.bin"));
    for (int id : {IDC_UPGRADE, IDC_CANCEL_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY})
        EXPECT_TRUE(dlg.Enabled(id));
    EXPECT_EQ(dlg.progressMin, 16);
    EXPECT_EQ(dlg.progressMax, 100);
    EXPECT_EQ(dlg.progressPos, 16);  // position 0 clamped into the range
    ASSERT_EQ(dlg.fileRequests.size(), 1u);
    EXPECT_EQ(dlg.fileRequests[0].mode, FileDialogMode::Open);
    EXPECT_EQ(dlg.fileRequests[0].defaultExtension, "");
    EXPECT_EQ(dlg.fileRequests[0].filter, "DSP program bin files (*.bin)|*.bin|");
}

TEST_F(RawLoadTest, BytesBeyondTheFileReadAsErasedFlash) {
    ASSERT_TRUE(Load(BuildRawImage({})));
    for (std::uint32_t i = 100 * kBlockSize; i < kImageSize; i += 4099)
        EXPECT_EQ(g_image.data[i], 0xFF);
}

TEST_F(RawLoadTest, MarkerSearchStartsAfterTheBootArea) {
    ImageLayout layout;
    layout.startBlock = 3;  // only marker inside the boot area
    EXPECT_FALSE(Load(BuildRawImage(layout)));
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"File read error!"});
}

TEST_F(RawLoadTest, FirstOfTwoMarkersWins) {
    ImageLayout layout;
    layout.startBlock = 40;
    auto bytes = BuildRawImage(layout);
    std::memcpy(&bytes[20 * kBlockSize], "PORI", 4);
    ASSERT_TRUE(Load(bytes));
    EXPECT_EQ(g_image.startBlock, 20);
    EXPECT_EQ(dlg.m_strSpace, "Space (20-100K)");
}

TEST_F(RawLoadTest, PartialLastBlockPutsTheTrailerBeyondTheFile) {
    // 20,481 bytes: endBlock 21, the trailer lies past the file's end and reads as 0xFF.
    ImageLayout layout;
    layout.endBlock = 20;
    auto bytes = BuildRawImage(layout);
    bytes.push_back(0x00);
    EXPECT_FALSE(Load(bytes));
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"File read error!"});

    // 21,504 bytes ending in "ST" and six identification bytes is accepted.
    layout.endBlock = 21;
    dlg.messages.clear();
    ASSERT_TRUE(Load(BuildRawImage(layout)));
    EXPECT_EQ(dlg.m_strSpace, "Space (16-21K)");
}

TEST_F(RawLoadTest, EveryFamilyPairIsAcceptedAndNearMissesAreNot) {
    for (const char* family : {"ST", "GD", "HC"}) {
        ImageLayout layout;
        layout.family = family;
        EXPECT_TRUE(Load(BuildRawImage(layout))) << family;
    }
    for (const char* family : {"TS", "st", "DG", "SD", "GT", "HD", "CH", "S\xFF"}) {
        ImageLayout layout;
        layout.family = family;
        dlg.messages.clear();
        EXPECT_FALSE(Load(BuildRawImage(layout))) << family;
        EXPECT_EQ(dlg.messages, std::vector<std::string>{"File read error!"}) << family;
    }
}

TEST_F(RawLoadTest, SecondLoadReplacesTheFirst) {
    ASSERT_TRUE(Load(BuildRawImage({}), "a.bin"));
    ImageLayout layout;
    layout.startBlock = 30;
    layout.endBlock = 60;
    ASSERT_TRUE(Load(BuildRawImage(layout), "b.bin"));
    EXPECT_EQ(g_image.startBlock, 30);
    EXPECT_EQ(g_image.endBlock, 60);
    EXPECT_EQ(dlg.m_strSpace, "Space (30-60K)");
    EXPECT_EQ(dlg.m_strProgramFile, dir.File("b.bin"));
    EXPECT_EQ(g_image.data[70 * kBlockSize], 0xFF);  // nothing of the first file survives
}

TEST_F(RawLoadTest, RejectedLoadLeavesTheLoadedImageAsItWas) {
    ASSERT_TRUE(Load(BuildRawImage({}), "good.bin"));
    std::vector<std::uint8_t> before(g_image.data, g_image.data + kImageSize);

    ImageLayout bad;
    bad.startBlock = 0xFFFF;  // no marker at all
    bad.endBlock = 200;
    EXPECT_FALSE(Load(BuildRawImage(bad), "bad.bin"));
    bad.startBlock = 50;
    bad.family = "XX";
    EXPECT_FALSE(Load(BuildRawImage(bad), "bad2.bin"));

    EXPECT_EQ(std::vector<std::uint8_t>(g_image.data, g_image.data + kImageSize), before);
    EXPECT_EQ(g_image.startBlock, 16);
    EXPECT_EQ(g_image.endBlock, 100);
    EXPECT_EQ(dlg.m_strProgramFile, dir.File("good.bin"));
    EXPECT_EQ(dlg.m_strSpace, "Space (16-100K)");
    for (int id : {IDC_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY}) EXPECT_TRUE(dlg.Enabled(id));
}

TEST_F(RawLoadTest, RejectedFirstLoadKeepsEverythingEmptyAndDisabled) {
    ImageLayout bad;
    bad.family = "XX";
    EXPECT_FALSE(Load(BuildRawImage(bad)));
    EXPECT_TRUE(dlg.m_strProgramFile.empty());
    EXPECT_TRUE(dlg.m_strSpace.empty());
    EXPECT_EQ(g_image.endBlock, 0);
    EXPECT_FALSE(dlg.Enabled(IDC_UPGRADE));
    EXPECT_FALSE(dlg.Enabled(IDC_GEN_BIN));
}

TEST_F(RawLoadTest, FullSizeImageWithTrailerAtTheEnd) {
    ImageLayout layout;
    layout.endBlock = 512;
    ASSERT_TRUE(Load(BuildRawImage(layout)));
    EXPECT_EQ(g_image.endBlock, 512);
    EXPECT_EQ(dlg.m_strSpace, "Space (16-512K)");
}

TEST_F(RawLoadTest, TheLastBlockIsSearchedForTheMarkerToo) {
    // The only marker is at the start of block 511, the last one: a one-block range.
    ImageLayout layout;
    layout.startBlock = 511;
    layout.endBlock = 512;
    ASSERT_TRUE(Load(BuildRawImage(layout)));
    EXPECT_EQ(g_image.startBlock, 511);
    EXPECT_EQ(dlg.m_strSpace, "Space (511-512K)");
}

TEST_F(RawLoadTest, LongerFileIsReadUpToTheImageSize) {
    ImageLayout layout;
    layout.endBlock = 512;
    auto bytes = BuildRawImage(layout);
    bytes.resize(kImageSize + 5000, 0x00);
    ASSERT_TRUE(Load(bytes));
    EXPECT_EQ(g_image.endBlock, 512);
}

TEST_F(RawLoadTest, UnopenableFilesChangeNothing) {
    ASSERT_TRUE(Load(BuildRawImage({}), "good.bin"));
    for (const std::string& path : {dir.File("missing.bin"), dir.Path().string()}) {
        dlg.messages.clear();
        dlg.files.push_back(path);
        EXPECT_FALSE(LoadProgramBinary(dlg)) << path;
        EXPECT_EQ(dlg.messages, std::vector<std::string>{"File Open Error!"}) << path;
        EXPECT_EQ(dlg.m_strProgramFile, dir.File("good.bin"));
        EXPECT_EQ(g_image.endBlock, 100);
    }
}

TEST_F(RawLoadTest, CancelledFileDialogDoesNothing) {
    EXPECT_FALSE(LoadProgramBinary(dlg));
    EXPECT_TRUE(dlg.messages.empty());
}

TEST(LoadAnalysis, RangeFollowsTheLength) {
    static FirmwareImage image;
    std::memset(image.data, 0xFF, sizeof image.data);
    std::memcpy(&image.data[16 * kBlockSize], "PORI", 4);
    struct Case {
        std::uint32_t length;
        std::uint16_t end;
    } cases[] = {{0, 16},     {16 * 1024, 16},   {16 * 1024 + 1, 17},
                 {20481, 21}, {kImageSize, 512}, {0xFFFFFFFFu, 512}};
    for (const auto& c : cases) {
        const auto result = AnalyseImage(image, c.length);
        EXPECT_EQ(result.startBlock, 16) << c.length;
        EXPECT_EQ(result.endBlock, c.end) << c.length;
        EXPECT_FALSE(result.familyValid) << c.length;
    }
}

TEST(LoadAnalysis, NoMarkerGivesBlock512) {
    static FirmwareImage image;
    std::memset(image.data, 0xFF, sizeof image.data);
    std::memcpy(&image.data[511 * kBlockSize + 1], "PORI", 4);  // not at a block start
    const auto result = AnalyseImage(image, kImageSize);
    EXPECT_FALSE(result.markerFound);
    EXPECT_EQ(result.startBlock, 512);
    EXPECT_EQ(result.endBlock, 512);
}

}  // namespace
