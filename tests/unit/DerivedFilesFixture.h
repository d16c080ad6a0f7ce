#pragma once
// The derived-file tests' fixture: a loaded raw image, a fake dialog that answers the file
// dialogs with the paths given, and a scratch folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/DerivedFiles.h"
#include "image/FirmwareImage.h"
#include "image/RawBinaryLoader.h"
#include "tests/support/FakeDialog.h"
#include "tests/support/ImageBuilder.h"

// The names in a folder, sorted.
inline std::vector<std::string> Names(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class DerivedFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&g_image, 0, sizeof g_image);
        ASSERT_TRUE(LoadRaw(BuildRawImage({})));
    }

    bool LoadRaw(const std::vector<std::uint8_t>& bytes) {
        WriteBytes(dir.File("in.bin"), bytes);
        dlg.files.push_back(dir.File("in.bin"));
        return LoadProgramBinary(dlg);
    }

    bool GenerateBin(const std::string& path) {
        dlg.files.push_back(path);
        return WriteBinFiles(dlg);
    }

    bool GenerateBody(const std::string& path) {
        dlg.files.push_back(path);
        return WriteBodyFile(dlg);
    }

    TempDir dir;
    FakeDialog dlg;
    const std::vector<std::uint8_t> raw = BuildRawImage({});
};
