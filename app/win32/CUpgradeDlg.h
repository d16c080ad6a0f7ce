#pragma once
// The main dialog on Win32: dialog template 102 from the resource script, run modally. It holds
// the dialog state, provides the dialog services with its controls and the window timer, and
// forwards each button, timer tick and the About item to the handlers both dialogs share.

#include "app/DialogView.h"
#include "app/UpgradeDlgHandlers.h"
#include "ui/win32/CCoolButton.h"

#include <windows.h>

class CUpgradeDlg : public DialogView {
public:
    CUpgradeDlg();
    ~CUpgradeDlg() override;

    CUpgradeDlg(const CUpgradeDlg&) = delete;
    CUpgradeDlg& operator=(const CUpgradeDlg&) = delete;

    INT_PTR DoModal();

    // Dialog services.
    void ShowMessage(const std::string& text) override;
    bool AskOkCancel(const std::string& text) override;
    std::optional<std::string> ChooseFile(FileDialogMode mode, const std::string& defaultExtension,
                                          const std::string& filter) override;
    void PushValues() override;
    bool ReadValues() override;
    void EnableButton(int id, bool on) override;
    void SetProgressRange(std::uint16_t minimum, std::uint16_t maximum) override;
    void SetProgressStep(int step) override;
    void SetProgressPos(int pos) override;
    void StepProgress() override;
    void StartBlockTimer(unsigned intervalMs) override;
    void StopBlockTimer() override;
    void Wait(unsigned ms) override;

private:
    static INT_PTR CALLBACK DlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    BOOL OnInitDialog();
    bool OnSysCommand(UINT id);
    bool OnPaint();
    void OnCommand(int id);
    void OnOK();
    CCoolButton* Button(int id);

    HWND m_hWnd = nullptr;
    CCoolButton m_btnGenBody;
    CCoolButton m_btnGenBin;
    CCoolButton m_btnUpgrade;
    CCoolButton m_btnBrowse;
    CCoolButton m_btnCancel;
    HWND m_progress = nullptr;
    HICON m_hIcon = nullptr;
    HICON m_hSmallIcon = nullptr;
    UpgradeDlgHandlers m_handlers{*this};
};
