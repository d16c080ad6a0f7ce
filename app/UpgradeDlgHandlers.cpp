#include "app/UpgradeDlgHandlers.h"

#include "app/ControlIds.h"
#include "services/DialogServices.h"
#include "app/DialogTemplate.h"
#include "device/UpgradeProtocol.h"
#include "image/DerivedFiles.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "image/RawBinaryLoader.h"
#include "image/ReleaseGate.h"

namespace {

// Browse: take the controls' values (a bad Channel is reported and the load goes on), then
// run the loader of the chosen file type.
void Browse(DialogServices& dlg) {
    dlg.ReadValues();
    // A site that signs its releases: the same loader, from bytes whose signature was checked.
    if (LoadReleaseImage(dlg, dlg.m_nFileType != kFileTypeBin).has_value()) return;
    if (dlg.m_nFileType == kFileTypeBin)
        LoadProgramBinary(dlg);
    else
        LoadHexFile(dlg);
}

void GenerateBin(DialogServices& dlg) {
    WriteBinFiles(dlg);
}

void GenerateBody(DialogServices& dlg) {
    WriteBodyFile(dlg);
}

struct CommandHandler {
    int id;
    void (*handle)(DialogServices&);
};

// Every button of the main dialog and what a click on it does.
constexpr CommandHandler kCommandHandlers[] = {
    {IDC_BROWSE, Browse},       {IDC_UPGRADE, StartUpgrade},  {IDC_CANCEL_UPGRADE, CancelUpgrade},
    {IDC_GEN_BIN, GenerateBin}, {IDC_GEN_BODY, GenerateBody},
};

const CommandHandler* Find(int id) {
    for (const CommandHandler& entry : kCommandHandlers) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

}  // namespace

void UpgradeDlgHandlers::OnInitDialog() {
    m_dlg.m_hDevice = kInvalidDrive;
    m_dlg.m_nChannel = 0;
    m_dlg.m_nFileType = kFileTypeBin;
    m_dlg.PushValues();
    g_image.busy = 0;
    g_image.startBlock = 0;
    m_dlg.ResetUi();
}

bool UpgradeDlgHandlers::OnCommand(int id) {
    const CommandHandler* entry = Find(id);
    if (entry == nullptr) return false;
    entry->handle(m_dlg);
    return true;
}

void UpgradeDlgHandlers::OnTimer(int timerId) {
    if (timerId == kBlockTimerId) SendNextBlock(m_dlg);
}

bool UpgradeDlgHandlers::IsAboutCommand(unsigned id) {
    return (id & 0xFFF0u) == IDM_ABOUTBOX;
}

bool UpgradeDlgHandlers::HasCommand(int id) {
    return Find(id) != nullptr;
}
