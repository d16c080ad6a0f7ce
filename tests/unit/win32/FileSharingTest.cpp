// Windows: a file another program holds open for writing is refused (never read half-written),
// nobody can write a file while we read it, and other readers may read it too.
#include <gtest/gtest.h>
#include <windows.h>

#include "image/File.h"
#include "tests/support/ImageBuilder.h"

namespace {

HANDLE OpenForWritingShared(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

TEST(FileSharing, WritersAreKeptOutAndReadersShare) {
    TempDir dir;
    const std::string path = dir.File("in.bin");
    WriteBytes(path, {1, 2, 3});

    HANDLE writer = OpenForWritingShared(path);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    File file;
    EXPECT_FALSE(file.OpenForReading(path));
    EXPECT_NE(file.ErrorText().find(path), std::string::npos) << file.ErrorText();
    CloseHandle(writer);

    ASSERT_TRUE(file.OpenForReading(path));
    EXPECT_EQ(OpenForWritingShared(path), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    File second;
    EXPECT_TRUE(second.OpenForReading(path)) << second.ErrorText();  // as --all's children do
    second.Close();
    file.Close();
    writer = OpenForWritingShared(path);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE);
    CloseHandle(writer);
}
