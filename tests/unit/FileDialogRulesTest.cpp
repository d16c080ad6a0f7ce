// The file dialog's toolkit-free rules, which every front end takes: filter parsing and the
// default extension.
#include <gtest/gtest.h>

#include "app/FileDialogRules.h"

TEST(FileDialogRules, DefaultExtensionGoesOnlyOnAFileNameWithoutOne) {
    EXPECT_EQ(ApplyDefaultExtension("out", "bin"), "out.bin");
    EXPECT_EQ(ApplyDefaultExtension("image.hex", "bin"), "image.hex");
    EXPECT_EQ(ApplyDefaultExtension("dir.d/out", "bin"), "dir.d/out.bin");
    EXPECT_EQ(ApplyDefaultExtension("/a.d/out", "bin"), "/a.d/out.bin");
    EXPECT_EQ(ApplyDefaultExtension("/a/out.txt", "bin"), "/a/out.txt");
    EXPECT_EQ(ApplyDefaultExtension("out", ""), "out");
    EXPECT_EQ(ApplyDefaultExtension("", "bin"), "");
    // A folder is no file name: no hidden "dir/.bin".
    EXPECT_EQ(ApplyDefaultExtension("dir/", "bin"), "dir/");
}

TEST(FileDialogRules, FiltersSplitIntoDescriptionsAndPatterns) {
    const std::vector<FileFilter> one = ParseFileFilter("bin files (*.bin)|*.bin|");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].description, "bin files (*.bin)");
    EXPECT_EQ(one[0].patterns, std::vector<std::string>{"*.bin"});
    const std::vector<FileFilter> two = ParseFileFilter(" Images |*.bin; *.hex|All|*.*|");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].description, "Images");
    EXPECT_EQ(two[0].patterns, (std::vector<std::string>{"*.bin", "*.hex"}));
    EXPECT_EQ(two[1].patterns, std::vector<std::string>{"*.*"});
    EXPECT_TRUE(ParseFileFilter("dangling|").empty());
    EXPECT_TRUE(ParseFileFilter("no pattern||").empty());
    EXPECT_TRUE(ParseFileFilter("").empty());
}
