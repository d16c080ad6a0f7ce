// The file layer: errors name the file and the cause; writes land whole or not at all.
#include <gtest/gtest.h>

#include <filesystem>

#include "image/File.h"
#include "tests/support/ImageBuilder.h"

TEST(FileLayer, CommittedWriteReplacesTheTargetAtOnce) {
    TempDir dir;
    const std::string path = dir.File("out.bin");
    WriteBytes(path, {1, 2, 3});
    File file;
    ASSERT_TRUE(file.CreateForWriting(path));
    const std::uint8_t data[] = {9, 8, 7, 6};
    ASSERT_TRUE(file.Write(data, sizeof data));
    EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));  // not yet
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{9, 8, 7, 6}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(FileLayer, AbandonedWriteKeepsTheEarlierFileAndLeavesNoTemporary) {
    TempDir dir;
    const std::string path = dir.File("out.bin");
    WriteBytes(path, {1, 2, 3});
    {
        File file;
        ASSERT_TRUE(file.CreateForWriting(path));
        const std::uint8_t data[] = {9};
        ASSERT_TRUE(file.Write(data, 1));
    }
    EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(FileLayer, ErrorsNameTheFileAndTheCause) {
    TempDir dir;
    File file;
    EXPECT_FALSE(file.OpenForReading(dir.File("nope.bin")));
    EXPECT_EQ(file.ErrorText(),
              "Cannot open \"" + dir.File("nope.bin") + "\": No such file or directory");
    EXPECT_FALSE(file.OpenForReading(dir.Path().string()));
    EXPECT_NE(file.ErrorText().find("Is a directory"), std::string::npos);
    EXPECT_FALSE(file.CreateForWriting(dir.File("no/such/folder.bin")));
    EXPECT_NE(file.ErrorText().find("no/such/folder.bin"), std::string::npos);
}
