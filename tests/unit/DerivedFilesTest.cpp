// Program, burn and body files: contents, names, refusals, and what a failed write leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "image/DerivedFiles.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "tests/unit/DerivedFilesFixture.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& bytes, std::size_t from,
                                std::size_t to) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
            bytes.begin() + static_cast<std::ptrdiff_t>(to)};
}

TEST_F(DerivedFilesTest, ProgramBurnAndBodyFilesOfBlocks16To100) {
    const auto before = std::vector<std::uint8_t>(g_image.data, g_image.data + kImageSize);
    ASSERT_TRUE(GenerateBin(dir.File("out.bin")));
    ASSERT_TRUE(GenerateBody(dir.File("body.bin")));
    EXPECT_TRUE(dlg.messages.empty());

    const auto program = ReadBytes(dir.File("out.bin"));
    const auto burn = ReadBytes(dir.File("out_BURN.bin"));
    const auto body = ReadBytes(dir.File("body.bin"));
    ASSERT_EQ(program.size(), 102400u);
    ASSERT_EQ(burn.size(), 102400u);
    ASSERT_EQ(body.size(), 86016u);
    EXPECT_EQ(Slice(program, 0, kBootAreaSize), std::vector<std::uint8_t>(kBootAreaSize, 0xFF));
    EXPECT_EQ(Slice(program, kBootAreaSize, 102400), Slice(raw, kBootAreaSize, 102400));
    EXPECT_EQ(burn, raw);
    EXPECT_EQ(body, Slice(burn, 16384, 102400));
    // The boot area is blanked in the file only.
    EXPECT_EQ(std::vector<std::uint8_t>(g_image.data, g_image.data + kImageSize), before);

    ASSERT_EQ(dlg.fileRequests.size(), 3u);  // the load, then one save dialog each
    for (std::size_t i : {1u, 2u}) {
        EXPECT_EQ(dlg.fileRequests[i].mode, FileDialogMode::Save);
        EXPECT_EQ(dlg.fileRequests[i].defaultExtension, "bin");
        EXPECT_EQ(dlg.fileRequests[i].filter, "bin files (*.bin)|*.bin|");
    }
}

TEST_F(DerivedFilesTest, BurnFileNameDropsTheLastFourCharacters) {
    EXPECT_EQ(BurnFilePath("out.bin"), "out_BURN.bin");
    EXPECT_EQ(BurnFilePath("/fw/image.hex"), "/fw/image_BURN.bin");
    EXPECT_EQ(BurnFilePath("ab/c.d"), "ab_BURN.bin");  // whatever the four characters are
    EXPECT_EQ(BurnFilePath("fw.\xE5\x9B\xBA\xE4\xBB\xB6x"), "fw_BURN.bin");  // UTF-8 counted whole
    EXPECT_EQ(BurnFilePath("abcd"), "_BURN.bin");
    EXPECT_EQ(BurnFilePath("abc"), "");

    // The dialog hands back "image.hex" as chosen: it is the program file itself.
    ASSERT_TRUE(GenerateBin(dir.File("image.hex")));
    EXPECT_EQ(Names(dir.Path()),
              (std::vector<std::string>{"image.hex", "image_BURN.bin", "in.bin"}));
}

TEST_F(DerivedFilesTest, ErasedBootAreaStopsBinFilesBeforeAnyDialogButNotTheBody) {
    ImageLayout layout;
    layout.bootArea = false;
    ASSERT_TRUE(LoadRaw(BuildRawImage(layout)));
    const std::size_t requests = dlg.fileRequests.size();
    EXPECT_FALSE(GenerateBin(dir.File("out.bin")));
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"Bin Incomplete!"});
    EXPECT_EQ(dlg.fileRequests.size(), requests);
    dlg.files.clear();
    ASSERT_TRUE(GenerateBody(dir.File("body.bin")));
    EXPECT_EQ(ReadBytes(dir.File("body.bin")).size(), 86016u);
    EXPECT_FALSE(fs::exists(dir.File("out.bin")));
}

TEST_F(DerivedFilesTest, NothingIsWrittenBeforeAnImageIsLoaded) {
    std::memset(&g_image, 0, sizeof g_image);  // as at start-up: no range
    EXPECT_FALSE(GenerateBin(dir.File("out.bin")));
    EXPECT_FALSE(GenerateBody(dir.File("body.bin")));
    EXPECT_EQ(dlg.messages, (std::vector<std::string>{"Bin Incomplete!", "Bin Incomplete!"}));
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"in.bin"});
}

TEST_F(DerivedFilesTest, CancelWritesNothingAndSaysNothing) {
    EXPECT_FALSE(WriteBinFiles(dlg));
    EXPECT_FALSE(WriteBodyFile(dlg));
    EXPECT_TRUE(dlg.messages.empty());
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"in.bin"});
}

TEST_F(DerivedFilesTest, PressingTwiceWritesTheSameFiles) {
    ASSERT_TRUE(GenerateBin(dir.File("out.bin")));
    const auto program = ReadBytes(dir.File("out.bin"));
    const auto burn = ReadBytes(dir.File("out_BURN.bin"));
    ASSERT_TRUE(GenerateBin(dir.File("out.bin")));
    EXPECT_EQ(ReadBytes(dir.File("out.bin")), program);
    EXPECT_EQ(ReadBytes(dir.File("out_BURN.bin")), burn);
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"in.bin", "out.bin", "out_BURN.bin"}));
}

TEST_F(DerivedFilesTest, TargetsThatCannotBeCreatedGiveTheOpenMessage) {
    WriteBytes(dir.File("plain"), {1});
    fs::create_directory(dir.File("folder.bin"));
    for (const std::string& path :
         {dir.File("plain/out.bin"), dir.File("no/such/out.bin"), dir.File("folder.bin")}) {
        dlg.messages.clear();
        EXPECT_FALSE(GenerateBin(path)) << path;
        EXPECT_FALSE(GenerateBody(path)) << path;
        EXPECT_EQ(dlg.messages,
                  (std::vector<std::string>{"Open bin file error!", "Open bin file error!"}));
    }
    EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{"folder.bin", "in.bin", "plain"}));
    EXPECT_TRUE(fs::is_empty(dir.File("folder.bin")));
}

}  // namespace
