// The dialog's Browse on a PC with the site-wide allowed signers: the load's own checks first,
// then an unsigned image refused with a plain message and the image before kept. Keys and
// signatures are made by OpenSSH's ssh-keygen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/ControlIds.h"
#include "app/UpgradeDlgHandlers.h"
#include "image/FirmwareImage.h"
#include "tests/support/FakeDialog.h"
#include "tests/support/ImageBuilder.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

TEST(ReleaseGate, TheDialogRefusesAnUnsignedImageOnlyWhereTheSiteSignsItsReleases) {
    TempDir dir;
    const std::string key = dir.File("release");
    ASSERT_EQ(std::system(("ssh-keygen -q -t ed25519 -N '' -f " + key).c_str()), 0);
    const std::string pub = ReadText(key + ".pub");
    std::ofstream(dir.File("allowed_signers")) << "release@example.com " << pub;
    const std::string good = dir.File("good.bin"), other = dir.File("other.bin");
    const std::string broken = dir.File("broken.bin");
    WriteBytes(good, BuildRawImage({.startBlock = 16, .endBlock = 24}));
    WriteBytes(other, BuildRawImage({.startBlock = 16, .endBlock = 40}));
    WriteBytes(broken, BuildRawImage({.startBlock = 0xFFFF, .endBlock = 40}));
    ASSERT_EQ(std::system(("ssh-keygen -q -Y sign -n kestrel-firmware -f " + key + " " + good +
                           " 2>/dev/null")
                              .c_str()),
              0);

    FakeDialog dlg;
    UpgradeDlgHandlers handlers(dlg);
    handlers.OnInitDialog();
    const auto browse = [&](const std::string& path) {
        dlg.messages.clear();
        dlg.files.push_back(path);
        handlers.OnCommand(IDC_BROWSE);
    };
    ASSERT_EQ(::setenv("KESTREL_TEST_SITE_SIGNERS", dir.File("allowed_signers").c_str(), 1), 0);
    browse(good);
    EXPECT_TRUE(dlg.messages.empty()) << dlg.messages.front();
    EXPECT_EQ(dlg.m_strProgramFile, good);
    EXPECT_EQ(g_image.endBlock, 24);

    browse(other);
    ASSERT_EQ(dlg.messages.size(), 1u);
    EXPECT_EQ(dlg.messages[0], "This image is not a signed release and cannot be used: " + other +
                                   ": no release signature (" + other + ".sig not found).");
    EXPECT_EQ(dlg.m_strProgramFile, good);
    EXPECT_EQ(g_image.endBlock, 24);

    // The load's own checks speak first.
    browse(broken);
    EXPECT_EQ(dlg.messages, std::vector<std::string>{"File read error!"});

    // Without the site-wide file the dialog loads as it always has.
    ASSERT_EQ(::setenv("KESTREL_TEST_SITE_SIGNERS", dir.File("none").c_str(), 1), 0);
    browse(other);
    EXPECT_TRUE(dlg.messages.empty());
    EXPECT_EQ(dlg.m_strProgramFile, other);
    ::unsetenv("KESTREL_TEST_SITE_SIGNERS");
}
