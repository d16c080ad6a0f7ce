// The file layer where POSIX semantics matter: symbolic links and permission bits.
#include <gtest/gtest.h>

#include <filesystem>

#include "image/File.h"
#include "tests/support/ImageBuilder.h"

TEST(FileLayer, ASymbolicLinkIsFollowedAndStaysALink) {
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

TEST(FileLayer, AReplacedFileKeepsItsPermissionBits) {
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
