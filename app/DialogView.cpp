#include "app/DialogView.h"

#include "app/ControlIds.h"
#include "device/VendorCommands.h"
#include "image/FirmwareImage.h"

void DialogView::ResetUi() {
    const bool enabled = !m_strProgramFile.empty();
    EnableButton(IDC_UPGRADE, enabled);
    EnableButton(IDC_CANCEL_UPGRADE, enabled);
    EnableButton(IDC_GEN_BIN, enabled);
    EnableButton(IDC_GEN_BODY, enabled);
    PushValues();
    g_image.currentBlock = g_image.startBlock;
    SetProgressRange(g_image.startBlock, g_image.endBlock);
    SetProgressStep(1);
    SetProgressPos(0);
    if (m_hDevice != kInvalidDrive) {
        CloseDevice(m_hDevice);
        m_hDevice = kInvalidDrive;
    }
}

void DialogView::LockForSending(bool locked) {
    const bool loaded = !m_strProgramFile.empty();
    EnableButton(IDC_BROWSE, !locked);
    EnableButton(IDC_UPGRADE, !locked && loaded);
    EnableButton(IDC_GEN_BIN, !locked && loaded);
    EnableButton(IDC_GEN_BODY, !locked && loaded);
}

void DialogView::ShowLoadedImage(const std::string& path, const std::string& space) {
    EnableButton(IDC_GEN_BIN, true);
    EnableButton(IDC_GEN_BODY, true);
    m_strSpace = space;
    m_strProgramFile = path;
    PushValues();
    ResetUi();
    EnableButton(IDC_UPGRADE, true);
}
