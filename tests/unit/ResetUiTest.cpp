#include <gtest/gtest.h>

#include <cstring>

#include "app/ControlIds.h"
#include "image/FirmwareImage.h"
#include "tests/support/FakeDialog.h"
#include "tests/support/ScratchHandle.h"

TEST(ResetUi, BeforeAnyLoadOnlyBrowseStaysUsable) {
    std::memset(&g_image, 0, sizeof g_image);
    FakeDialog dlg;
    dlg.ResetUi();
    for (int id : {IDC_UPGRADE, IDC_CANCEL_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY})
        EXPECT_FALSE(dlg.Enabled(id));
    EXPECT_EQ(dlg.buttons.count(IDC_BROWSE), 0u);  // never disabled by the reset
    EXPECT_EQ(dlg.progressMin, 0);
    EXPECT_EQ(dlg.progressMax, 0);
    EXPECT_EQ(dlg.progressStep, 1);
    EXPECT_EQ(dlg.pushCount, 1);
}

TEST(ResetUi, ClosesAnOpenHandleOnce) {
    FakeDialog dlg;
    const DriveHandle handle = OpenScratchHandle();
    ASSERT_NE(handle, kInvalidDrive);
    dlg.m_hDevice = handle;
    dlg.ResetUi();
    EXPECT_EQ(dlg.m_hDevice, kInvalidDrive);
    EXPECT_FALSE(ScratchHandleIsOpen(handle));

    // A second reset must not close whatever now holds that handle value.
    const DriveHandle other = OpenScratchHandle();
    ASSERT_EQ(other, handle);
    dlg.ResetUi();
    EXPECT_TRUE(ScratchHandleIsOpen(other));
    CloseScratchHandle(other);
}

TEST(ResetUi, RewindsCurrentBlockAndFollowsTheLoadedPath) {
    g_image.startBlock = 16;
    g_image.endBlock = 100;
    g_image.currentBlock = 57;
    FakeDialog dlg;
    dlg.m_strProgramFile = "/tmp/fw.bin";
    dlg.progressPos = 57;
    dlg.ResetUi();
    EXPECT_EQ(g_image.currentBlock, 16);
    EXPECT_EQ(dlg.progressPos, 16);
    for (int id : {IDC_UPGRADE, IDC_CANCEL_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY})
        EXPECT_TRUE(dlg.Enabled(id));
}
