// The file layer: errors name the file and the cause; writes land whole or not at all.
#include <gtest/gtest.h>

#include <filesystem>

#include "image/File.h"
#include "tests/support/ImageBuilder.h"

TEST(FileLayer, CommittedWriteReplacesTheTargetAtOnce)
{
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

TEST(FileLayer, AbandonedWriteKeepsTheEarlierFileAndLeavesNoTemporary)
{
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

TEST(FileLayer, ErrorsNameTheFileAndTheCause)
{
    TempDir dir;
    File file;
    EXPECT_FALSE(file.OpenForReading(dir.File("nope.bin")));
    EXPECT_EQ(file.ErrorText(), "Cannot open \"" + dir.File("nope.bin") + "\": No such file or directory");
    EXPECT_FALSE(file.OpenForReading(dir.Path().string()));
    EXPECT_NE(file.ErrorText().find("Is a directory"), std::string::npos);
    EXPECT_FALSE(file.CreateForWriting(dir.File("no/such/folder.bin")));
    EXPECT_NE(file.ErrorText().find("no/such/folder.bin"), std::string::npos);
}

TEST(FileLayer, ASymbolicLinkIsFollowedAndStaysALink)
{
    TempDir dir;
    std::filesystem::create_directory(dir.File("real"));
    const std::string link = dir.File("out.bin");
    const std::string dangling = dir.File("new.bin");
    WriteBytes(dir.File("real/fw.bin"), {1, 2, 3});
    std::filesystem::create_symlink("real/fw.bin", link);  // relative to the link's folder
    std::filesystem::create_symlink(dir.File("real/made.bin"), dangling);

    const std::uint8_t data[] = {9, 8};
    for (const std::string& path : {link, dangling}) {
        File file;
        ASSERT_TRUE(file.CreateForWriting(path)) << file.ErrorText();
        ASSERT_TRUE(file.Write(data, sizeof data));
        ASSERT_TRUE(file.Commit()) << file.ErrorText();
        EXPECT_TRUE(std::filesystem::is_symlink(path)) << path;
    }
    EXPECT_EQ(ReadBytes(dir.File("real/fw.bin")), (std::vector<std::uint8_t>{9, 8}));
    EXPECT_EQ(ReadBytes(dir.File("real/made.bin")), (std::vector<std::uint8_t>{9, 8}));
    // The temporary files were made beside the files the links point to, and are gone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("real")), {}), 2);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);
}

TEST(FileLayer, AReplacedFileKeepsItsPermissionBits)
{
    namespace fs = std::filesystem;
    TempDir dir;
    const std::string path = dir.File("out.bin");
    WriteBytes(path, {1});
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(path, mode);
    File file;
    ASSERT_TRUE(file.CreateForWriting(path));
    ASSERT_TRUE(file.Write("x", 1));
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(fs::status(path).permissions(), mode);
}
