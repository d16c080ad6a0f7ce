// Drives kestrel-upgrade.exe under Wine the way a person would, with window messages from a
// second process: clicks (BM_CLICK), typing (WM_SETTEXT), answers to message boxes and file
// dialogs. Checks the dialog's geometry against its template, the start-up state, Browse with
// BIN and HEX, a bad Channel, both Generate buttons, About through the system menu, a
// whole upgrade with the enabling rule during and after the run, and Escape.
//
// Usage: kestrel-dialog-driver DIALOG.exe SAMPLE_DIR [--device]
//   SAMPLE_DIR holds sample.bin and sample.hex (a Unix path is taken as drive Z:); with
//   --device a virtual device is attached and the upgrade is run through the dialog.
// Prints one line per check and exits 0 only when every check passed.
#include "app/ControlIds.h"
#include "app/DialogTemplate.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr DWORD kTimeoutMs = 20000;
constexpr DWORD kRunTimeoutMs = 120000;
int g_failures = 0;

std::wstring Widen(const char* utf8) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
    return out;
}

std::string Narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
    return out;
}

void Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++g_failures;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = kTimeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() > end) return false;
        Sleep(20);
    }
    return true;
}

std::wstring Text(HWND hwnd) {
    wchar_t buffer[2048] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK,
                        kTimeoutMs, nullptr);
    return buffer;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[64] = {};
    GetClassNameW(hwnd, name, 64);
    return name;
}

void Click(HWND button) {
    PostMessageW(button, BM_CLICK, 0, 0);
}
void Type(HWND edit, const std::wstring& text) {
    SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// A visible dialog box (message box, file dialog, About box) owned by the given window.
HWND OwnedBox(HWND owner) {
    struct Search {
        HWND owner;
        HWND found;
    } search{owner, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lp);
            if (IsWindowVisible(hwnd) && GetWindow(hwnd, GW_OWNER) == s->owner &&
                ClassOf(hwnd) == L"#32770") {
                s->found = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForBox(HWND owner) {
    HWND box = nullptr;
    WaitFor([&] { return (box = OwnedBox(owner)) != nullptr; });
    return box;
}

// The texts of a box's static controls, joined: a message box's message.
std::wstring StaticTexts(HWND box) {
    std::wstring all;
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (ClassOf(c) == L"Static") all += Text(c);
    }
    return all;
}

bool HasIcon(HWND box) {
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (ClassOf(c) == L"Static" && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            IsWindowVisible(c) && SendMessageW(c, STM_GETICON, 0, 0) != 0) {
            return true;
        }
    }
    return false;
}

// Answers the message box the dialog shows next; checks its text, caption, buttons and icon.
void AnswerMessage(HWND dlg, const std::wstring& text, const std::wstring& caption, bool okCancel,
                   bool icon, int answer, const std::string& what) {
    HWND box = WaitForBox(dlg);
    Check(box != nullptr, what + ": a message box opens");
    if (box == nullptr) return;
    Check(StaticTexts(box).find(text) != std::wstring::npos,
          what + ": says \"" + Narrow(text) + "\" (it says \"" + Narrow(StaticTexts(box)) + "\")");
    Check(Text(box) == caption,
          what + ": caption \"" + Narrow(caption) + "\" (it is \"" + Narrow(Text(box)) + "\")");
    Check((GetDlgItem(box, IDCANCEL) != nullptr) == okCancel, what + ": its buttons");
    Check(HasIcon(box) == icon, what + (icon ? ": with an icon" : ": without an icon"));
    Click(GetDlgItem(box, answer));
    WaitFor([&] { return !IsWindow(box); });
}

// Answers the file dialog the dialog shows next with a path; checks its first filter.
void AnswerFileDialog(HWND dlg, const std::wstring& filter, const std::wstring& path,
                      const std::string& what) {
    HWND box = WaitForBox(dlg);
    Check(box != nullptr, what + ": a file dialog opens");
    if (box == nullptr) return;
    HWND types = GetDlgItem(box, cmb1);
    wchar_t first[256] = {};
    if (types != nullptr) SendMessageW(types, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first));
    Check(filter == first,
          what + ": filter \"" + Narrow(filter) + "\" (it is \"" + Narrow(first) + "\")");
    HWND name = GetDlgItem(box, cmb13) != nullptr ? GetDlgItem(box, cmb13) : GetDlgItem(box, edt1);
    Type(name, path);
    Click(GetDlgItem(box, IDOK));
    WaitFor([&] { return !IsWindow(box); });
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring WindowsPath(const char* path) {
    std::wstring out = Widen(path);
    if (!out.empty() && out[0] == L'/') out = L"Z:" + out;
    for (wchar_t& c : out) {
        if (c == L'/') c = L'\\';
    }
    return out;
}

RECT ClientRectIn(HWND parent, HWND child) {
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string Describe(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
           std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

// The dialog manager's own conversion of the template: the same template, loaded from the
// program file into a hidden dialog of this process, where MapDialogRect can read its units.
struct TemplateCopy {
    HMODULE module = nullptr;
    HWND hwnd = nullptr;
    explicit TemplateCopy(const std::wstring& exe) {
        module = LoadLibraryExW(exe.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (module != nullptr) {
            hwnd = CreateDialogParamW(
                module, MAKEINTRESOURCEW(IDD_UPGRADE_DIALOG), nullptr,
                [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
        }
    }
    ~TemplateCopy() {
        if (hwnd != nullptr) DestroyWindow(hwnd);
        if (module != nullptr) FreeLibrary(module);
    }
    // Position and size are converted each on its own, as the dialog manager places controls.
    RECT Map(const DluRect& dlu) const {
        RECT r{dlu.x, dlu.y, dlu.w, dlu.h};
        MapDialogRect(hwnd, &r);
        return {r.left, r.top, r.left + r.right, r.top + r.bottom};
    }
};

void CheckGeometry(HWND dlg, const std::wstring& exe) {
    const TemplateCopy copy(exe);
    Check(copy.hwnd != nullptr, "the template loads from the program file");
    if (copy.hwnd == nullptr) return;
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(copy.hwnd, WM_GETFONT, 0, 0));
    LOGFONTW logFont{};
    GetObjectW(font, sizeof logFont, &logFont);
    Check(std::wstring(logFont.lfFaceName) == Widen(kDialogFontName), "the dialog font is 宋体");

    const RECT expected = copy.Map(kUpgradeDlgTemplate.size);
    RECT client;
    GetClientRect(dlg, &client);
    Check(EqualRect(&client, &expected) != FALSE,
          "client area " + Describe(client) + " is the template's " + Describe(expected));
    Check(client.right == 594 && client.bottom == 423,
          "with the Song font's 6 x 12 base units that is 594 x 423");

    // Children come in template order: id, rectangle, tab stop, owner-drawn buttons.
    HWND child = GetWindow(dlg, GW_CHILD);
    for (const ControlTemplate& row : kUpgradeDlgTemplate.controls) {
        const std::string where =
            std::string("control ") + std::to_string(row.id) + " \"" + row.text + "\"";
        if (child == nullptr) {
            Check(false, where + " exists");
            break;
        }
        const RECT want = copy.Map(row.dlu);
        const RECT have = ClientRectIn(dlg, child);
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        bool ok =
            EqualRect(&have, &want) != FALSE && (GetDlgCtrlID(child) & 0xFFFF) == (row.id & 0xFFFF);
        // A checked radio button becomes a tab stop by the platform's rule.
        if (row.kind != ControlKind::Radio) {
            ok = ok && ((style & WS_TABSTOP) != 0) == ((row.style & kTabStop) != 0);
        }
        if (row.kind == ControlKind::PushButton) ok = ok && (style & BS_TYPEMASK) == BS_OWNERDRAW;
        Check(ok, where + " at " + Describe(have) + " (template " + Describe(want) + ")");
        child = GetWindow(child, GW_HWNDNEXT);
    }
}

// Enabled flags of Browse, Upgrade, Generate Bin, Generate Body, Cancel as a word like "10000".
std::string Buttons(HWND dlg) {
    std::string flags;
    for (int id : {IDC_BROWSE, IDC_UPGRADE, IDC_GEN_BIN, IDC_GEN_BODY, IDC_CANCEL_UPGRADE}) {
        flags += IsWindowEnabled(GetDlgItem(dlg, id)) ? '1' : '0';
    }
    return flags;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kestrel-dialog-driver DIALOG.exe SAMPLE_DIR [--device]\n");
        return 2;
    }
    const std::wstring exe = argv[1];
    const std::wstring dir = WindowsPath(Narrow(argv[2]).c_str());
    const bool device = argc > 3 && std::wstring(argv[3]) == L"--device";
    const std::wstring caption = Widen(kUpgradeDlgTemplate.caption);

    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        std::fprintf(stderr, "cannot start the dialog (error %lu)\n", GetLastError());
        return 1;
    }
    HWND dlg = nullptr;
    Check(WaitFor([&] { return (dlg = FindWindowW(L"#32770", caption.c_str())) != nullptr; }),
          "the dialog opens");
    if (dlg == nullptr) {
        TerminateProcess(pi.hProcess, 1);
        return 1;
    }
    WaitFor([&] { return IsWindowVisible(dlg) != FALSE; });

    CheckGeometry(dlg, exe);

    // Start-up: only Browse of the five buttons, BIN chosen, Channel 0, an empty 0..0 bar.
    HWND progress = GetDlgItem(dlg, IDC_PROGRESS);
    Check(Buttons(dlg) == "10000", "at start-up only Browse is enabled (" + Buttons(dlg) + ")");
    Check(IsDlgButtonChecked(dlg, IDC_BIN) == BST_CHECKED &&
              IsDlgButtonChecked(dlg, IDC_HEX) == BST_UNCHECKED,
          "BIN is chosen");
    Check(Text(GetDlgItem(dlg, IDC_CHANNEL)) == L"0", "Channel shows 0");
    Check(SendMessageW(progress, PBM_GETRANGE, TRUE, 0) == 0 &&
              SendMessageW(progress, PBM_GETRANGE, FALSE, 0) == 0,
          "the progress range is 0..0");

    // A bad Channel is reported with an exclamation icon, and the file dialog still opens.
    const std::wstring appName = L"kestrel-upgrade";
    Type(GetDlgItem(dlg, IDC_CHANNEL), L"abc");
    Click(GetDlgItem(dlg, IDC_BROWSE));
    AnswerMessage(dlg, L"“请填入一个正整数。”", appName, false, true, IDOK, "bad Channel");
    AnswerFileDialog(dlg, L"DSP program bin files (*.bin)", dir + L"\\sample.bin", "Browse BIN");
    Check(WaitFor([&] { return Text(GetDlgItem(dlg, IDC_SPACE)) == L"Space (16-100K)"; }),
          "the BIN sample is loaded (" + Narrow(Text(GetDlgItem(dlg, IDC_SPACE))) + ")");
    Check(Buttons(dlg) == "11111", "after a load every button is enabled");
    Type(GetDlgItem(dlg, IDC_CHANNEL), L"7");

    // HEX: the radio, then Browse shows the HEX file dialog.
    Click(GetDlgItem(dlg, IDC_HEX));
    WaitFor([&] { return IsDlgButtonChecked(dlg, IDC_HEX) == BST_CHECKED; });
    Click(GetDlgItem(dlg, IDC_BROWSE));
    AnswerFileDialog(dlg, L"M3 HEX files (*.hex)", dir + L"\\sample.hex", "Browse HEX");
    Check(WaitFor([&] { return Text(GetDlgItem(dlg, IDC_PROGRAM_FILE)) == dir + L"\\sample.hex"; }),
          "the HEX sample is loaded");

    // Both Generate buttons write their files; the default extension is added.
    Click(GetDlgItem(dlg, IDC_GEN_BIN));
    AnswerFileDialog(dlg, L"bin files (*.bin)", dir + L"\\driver-out", "Generate Bin File");
    Check(WaitFor([&] {
              return FileExists(dir + L"\\driver-out.bin") &&
                     FileExists(dir + L"\\driver-out_BURN.bin");
          }),
          "Generate Bin File writes driver-out.bin and driver-out_BURN.bin");
    Click(GetDlgItem(dlg, IDC_GEN_BODY));
    AnswerFileDialog(dlg, L"bin files (*.bin)", dir + L"\\driver-body.bin", "Generate Body File");
    Check(WaitFor([&] { return FileExists(dir + L"\\driver-body.bin"); }),
          "Generate Body File writes driver-body.bin");

    // About through the system menu, as from the keyboard: open the menu, Up to its last item
    // (the About item after the separator), Enter.
    PostMessageW(dlg, WM_SYSCOMMAND, SC_KEYMENU, L' ');
    Check(WaitFor([] {
              HWND menu = FindWindowW(L"#32768", nullptr);
              return menu != nullptr && IsWindowVisible(menu);
          }),
          "the system menu opens");
    PostMessageW(dlg, WM_KEYDOWN, VK_UP, 0);
    PostMessageW(dlg, WM_KEYDOWN, VK_RETURN, 0);
    HWND about = WaitForBox(dlg);
    Check(about != nullptr && Text(about) == Widen(kAboutDlgTemplate.caption),
          "its About item opens the About box");
    if (about != nullptr) {
        Click(GetDlgItem(about, IDOK_ABOUT));
        Check(WaitFor([&] { return !IsWindow(about); }), "its OK closes it");
    }

    if (device) {
        // A whole upgrade of the BIN sample; the flash is compared by the caller.
        Click(GetDlgItem(dlg, IDC_BIN));
        WaitFor([&] { return IsDlgButtonChecked(dlg, IDC_BIN) == BST_CHECKED; });
        Click(GetDlgItem(dlg, IDC_BROWSE));
        AnswerFileDialog(dlg, L"DSP program bin files (*.bin)", dir + L"\\sample.bin",
                         "Browse BIN again");
        WaitFor([&] { return Text(GetDlgItem(dlg, IDC_PROGRAM_FILE)) == dir + L"\\sample.bin"; });
        Click(GetDlgItem(dlg, IDC_UPGRADE));
        AnswerMessage(dlg, L"Current Version is ", L"", true, false, IDOK, "confirmation");
        Check(WaitFor([&] { return SendMessageW(progress, PBM_GETPOS, 0, 0) > 16; }),
              "the progress bar advances");
        Check(Buttons(dlg) == "00001",
              "while sending only Cancel is enabled (" + Buttons(dlg) + ")");
        HWND done = nullptr;
        WaitFor([&] { return (done = OwnedBox(dlg)) != nullptr; }, kRunTimeoutMs);
        AnswerMessage(dlg, L"Finish OK!", appName, false, false, IDOK, "end of the run");
        Check(Buttons(dlg) == "11111",
              "after the run every button is enabled again (" + Buttons(dlg) + ")");
    }

    // Escape ends the dialog.
    PostMessageW(GetDlgItem(dlg, IDC_PROGRAM_FILE), WM_KEYDOWN, VK_ESCAPE, 0);
    const bool ended = WaitForSingleObject(pi.hProcess, kTimeoutMs) == WAIT_OBJECT_0;
    Check(ended, "Escape closes the dialog and the program ends");
    if (!ended) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("%s: %d failed\n", g_failures == 0 ? "PASS" : "FAIL", g_failures);
    return g_failures == 0 ? 0 : 1;
}
