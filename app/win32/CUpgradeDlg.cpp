#include "app/win32/CUpgradeDlg.h"

#include "app/ChannelText.h"
#include "app/ControlIds.h"
#include "app/DialogTemplate.h"
#include "app/FileDialogRules.h"
#include "app/win32/CAboutDlg.h"
#include "image/win32/WideText.h"
#include "device/VendorCommands.h"

#include <commctrl.h>
#include <commdlg.h>

#include <string>
#include <vector>

namespace {

// The caption of ShowMessage: the program file's name without its path and extension.
std::wstring ApplicationName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos && dot > 0) name.resize(dot);
    return name;
}

std::wstring ItemText(HWND dlg, int id) {
    HWND item = GetDlgItem(dlg, id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(item)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace

CUpgradeDlg::CUpgradeDlg() {
    m_nFileType = -1;  // no radio checked until initialisation chooses BIN
    m_hIcon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR));
    m_hSmallIcon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
}

CUpgradeDlg::~CUpgradeDlg() {
    if (m_hDevice != kInvalidDrive) {
        CloseDevice(m_hDevice);
        m_hDevice = kInvalidDrive;
    }
    if (m_hIcon != nullptr) DestroyIcon(m_hIcon);
    if (m_hSmallIcon != nullptr) DestroyIcon(m_hSmallIcon);
}

INT_PTR CUpgradeDlg::DoModal() {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPGRADE_DIALOG), nullptr,
                           DlgProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CUpgradeDlg::DlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CUpgradeDlg*>(lp);
        SetWindowLongPtrW(hwnd, DWLP_USER, lp);
        self->m_hWnd = hwnd;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CUpgradeDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    return self != nullptr ? self->OnMessage(msg, wp, lp) : FALSE;
}

INT_PTR CUpgradeDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SYSCOMMAND:
            return OnSysCommand(static_cast<UINT>(wp)) ? TRUE : FALSE;
        case WM_PAINT:
            return OnPaint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(m_hIcon);
        case WM_TIMER:
            m_handlers.OnTimer(static_cast<int>(wp));
            return TRUE;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            if (CCoolButton* button = Button(static_cast<int>(item->CtlID))) {
                button->DrawItem(*item);
                return TRUE;
            }
            return FALSE;
        }
        case WM_COMMAND:
            if (HIWORD(wp) == BN_CLICKED) OnCommand(LOWORD(wp));
            return TRUE;
        case WM_HELP:
            return TRUE;  // no help file belongs to the tool
        default:
            return FALSE;
    }
}

CCoolButton* CUpgradeDlg::Button(int id) {
    switch (id) {
        case IDC_GEN_BODY:
            return &m_btnGenBody;
        case IDC_GEN_BIN:
            return &m_btnGenBin;
        case IDC_UPGRADE:
            return &m_btnUpgrade;
        case IDC_BROWSE:
            return &m_btnBrowse;
        case IDC_CANCEL_UPGRADE:
            return &m_btnCancel;
        default:
            return nullptr;
    }
}

BOOL CUpgradeDlg::OnInitDialog() {
    // Bound in the order of the data exchange.
    for (int id : {IDC_GEN_BODY, IDC_GEN_BIN, IDC_UPGRADE, IDC_BROWSE, IDC_CANCEL_UPGRADE}) {
        Button(id)->SubclassDlgItem(id, m_hWnd);
    }
    m_progress = GetDlgItem(m_hWnd, IDC_PROGRESS);
    PushValues();

    if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
        wchar_t text[128] = {};
        if (LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, text, 128) > 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text);
        }
    }
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon));
    m_handlers.OnInitDialog();
    return TRUE;
}

void CUpgradeDlg::OnCommand(int id) {
    if (m_handlers.OnCommand(id)) return;
    switch (id) {
        case IDOK:
            OnOK();
            break;
        case IDCANCEL:
            EndDialog(m_hWnd, IDCANCEL);
            break;
        default:
            break;
    }
}

void CUpgradeDlg::OnOK() {
    if (ReadValues()) EndDialog(m_hWnd, IDOK);
}

bool CUpgradeDlg::OnSysCommand(UINT id) {
    if (!UpgradeDlgHandlers::IsAboutCommand(id)) return false;
    CAboutDlg about(m_hWnd);
    about.DoModal();
    return true;
}

bool CUpgradeDlg::OnPaint() {
    if (!IsIconic(m_hWnd)) return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(m_hWnd, &client);
    const int cx = GetSystemMetrics(SM_CXICON);
    const int cy = GetSystemMetrics(SM_CYICON);
    DrawIcon(dc, (client.right - client.left - cx + 1) / 2,
             (client.bottom - client.top - cy + 1) / 2, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return true;
}

void CUpgradeDlg::ShowMessage(const std::string& text) {
    MessageBoxW(m_hWnd, Widen(text).c_str(), ApplicationName().c_str(), MB_OK);
}

bool CUpgradeDlg::AskOkCancel(const std::string& text) {
    return MessageBoxW(m_hWnd, Widen(text).c_str(), L"", MB_OKCANCEL) == IDOK;
}

std::optional<std::string> CUpgradeDlg::ChooseFile(FileDialogMode mode,
                                                   const std::string& defaultExtension,
                                                   const std::string& filter) {
    // The parsed filters become the platform's list of NUL-separated pairs, patterns joined by
    // ';'; the platform applies the default extension itself (lpstrDefExt).
    std::wstring filters;
    for (const FileFilter& entry : ParseFileFilter(filter)) {
        std::string patterns;
        for (const std::string& pattern : entry.patterns)
            patterns += (patterns.empty() ? "" : ";") + pattern;
        filters += Widen(entry.description) + L'\0' + Widen(patterns) + L'\0';
    }
    filters.push_back(L'\0');
    const std::wstring extension = Widen(defaultExtension);
    std::vector<wchar_t> file(32768, L'\0');

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
    const BOOL chosen =
        mode == FileDialogMode::Save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
    if (!chosen || file[0] == L'\0') return std::nullopt;
    return Narrow(file.data());
}

void CUpgradeDlg::PushValues() {
    SetDlgItemTextW(m_hWnd, IDC_SPACE, Widen(m_strSpace).c_str());
    SetDlgItemTextW(m_hWnd, IDC_PROGRAM_FILE, Widen(m_strProgramFile).c_str());
    // A value outside the group leaves no radio checked.
    for (int radio : {IDC_BIN, IDC_HEX}) {
        CheckDlgButton(m_hWnd, radio,
                       radio == RadioOfFileType(m_nFileType) ? BST_CHECKED : BST_UNCHECKED);
    }
    SetDlgItemTextW(m_hWnd, IDC_CHANNEL, std::to_wstring(m_nChannel).c_str());
}

bool CUpgradeDlg::ReadValues() {
    m_strSpace = Narrow(ItemText(m_hWnd, IDC_SPACE));
    m_strProgramFile = Narrow(ItemText(m_hWnd, IDC_PROGRAM_FILE));
    m_nFileType = FileTypeOfRadio(IsDlgButtonChecked(m_hWnd, IDC_BIN) == BST_CHECKED   ? IDC_BIN
                                  : IsDlgButtonChecked(m_hWnd, IDC_HEX) == BST_CHECKED ? IDC_HEX
                                                                                       : -1);
    const auto channel = ParseChannelText(Narrow(ItemText(m_hWnd, IDC_CHANNEL)));
    if (!channel) {
        MessageBoxW(m_hWnd, Widen(kMsgChannelInvalid).c_str(), ApplicationName().c_str(),
                    MB_OK | MB_ICONEXCLAMATION);
        HWND edit = GetDlgItem(m_hWnd, IDC_CHANNEL);
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit), TRUE);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        return false;
    }
    m_nChannel = *channel;
    return true;
}

void CUpgradeDlg::EnableButton(int id, bool on) {
    EnableWindow(GetDlgItem(m_hWnd, id), on ? TRUE : FALSE);
}

void CUpgradeDlg::SetProgressRange(std::uint16_t minimum, std::uint16_t maximum) {
    SendMessageW(m_progress, PBM_SETRANGE, 0, MAKELPARAM(minimum, maximum));
}

void CUpgradeDlg::SetProgressStep(int step) {
    SendMessageW(m_progress, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void CUpgradeDlg::SetProgressPos(int pos) {
    SendMessageW(m_progress, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

void CUpgradeDlg::StepProgress() {
    SendMessageW(m_progress, PBM_STEPIT, 0, 0);
}

void CUpgradeDlg::StartBlockTimer(unsigned intervalMs) {
    SetTimer(m_hWnd, kBlockTimerId, intervalMs, nullptr);
}

void CUpgradeDlg::StopBlockTimer() {
    KillTimer(m_hWnd, kBlockTimerId);
}

void CUpgradeDlg::Wait(unsigned ms) {
    Sleep(ms);
}
