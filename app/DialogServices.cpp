#include "app/DialogServices.h"

#include "app/ControlIds.h"
#include "app/DialogTemplate.h"
#include "device/VendorCommands.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "image/RawBinaryLoader.h"

void DialogServices::ResetUi() {
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

void DialogServices::LockForSending(bool locked) {
    const bool loaded = !m_strProgramFile.empty();
    EnableButton(IDC_BROWSE, !locked);
    EnableButton(IDC_UPGRADE, !locked && loaded);
    EnableButton(IDC_GEN_BIN, !locked && loaded);
    EnableButton(IDC_GEN_BODY, !locked && loaded);
}

void DialogServices::InitDialogState() {
    m_hDevice = kInvalidDrive;
    m_nChannel = 0;
    m_nFileType = kFileTypeBin;
    PushValues();
    g_image.busy = 0;
    g_image.startBlock = 0;
    ResetUi();
}

void DialogServices::OnBrowse() {
    ReadValues();
    if (m_nFileType == kFileTypeBin)
        LoadProgramBinary(*this);
    else
        LoadHexFile(*this);
}

bool DialogServices::IsAboutCommand(unsigned id) {
    return (id & 0xFFF0u) == IDM_ABOUTBOX;
}
