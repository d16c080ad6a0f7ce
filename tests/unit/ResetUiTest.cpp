#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "app/ControlIds.h"
#include "image/FirmwareImage.h"
#include "tests/support/FakeDialog.h"

namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

}  // namespace

TEST(ResetUi, BeforeAnyLoadOnlyBrowseStaysUsable)
{
    std::memset(&g_image, 0, sizeof g_image);
    FakeDialog dlg;
    dlg.ResetUi();
    for (int id : {IDC_UPGRADE, IDC_CANCEL_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY}) EXPECT_FALSE(dlg.Enabled(id));
    EXPECT_EQ(dlg.buttons.count(IDC_BROWSE), 0u);  // never disabled by the reset
    EXPECT_EQ(dlg.progressMin, 0);
    EXPECT_EQ(dlg.progressMax, 0);
    EXPECT_EQ(dlg.progressStep, 1);
    EXPECT_EQ(dlg.pushCount, 1);
}

TEST(ResetUi, ClosesAnOpenHandleOnce)
{
    FakeDialog dlg;
    const int fd = ::open("/dev/null", O_RDWR);
    ASSERT_GE(fd, 0);
    dlg.m_hDevice = fd;
    dlg.ResetUi();
    EXPECT_EQ(dlg.m_hDevice, kInvalidDrive);
    EXPECT_FALSE(IsOpen(fd));

    // A second reset must not close whatever now holds that descriptor number.
    const int other = ::open("/dev/null", O_RDWR);
    ASSERT_EQ(other, fd);
    dlg.ResetUi();
    EXPECT_TRUE(IsOpen(other));
    ::close(other);
}

TEST(ResetUi, RewindsCurrentBlockAndFollowsTheLoadedPath)
{
    g_image.startBlock = 16;
    g_image.endBlock = 100;
    g_image.currentBlock = 57;
    FakeDialog dlg;
    dlg.m_strProgramFile = "/tmp/fw.bin";
    dlg.progressPos = 57;
    dlg.ResetUi();
    EXPECT_EQ(g_image.currentBlock, 16);
    EXPECT_EQ(dlg.progressPos, 16);
    for (int id : {IDC_UPGRADE, IDC_CANCEL_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY}) EXPECT_TRUE(dlg.Enabled(id));
}
