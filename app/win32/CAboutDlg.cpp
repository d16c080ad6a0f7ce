#include "app/win32/CAboutDlg.h"

#include "app/DialogTemplate.h"

INT_PTR CAboutDlg::DoModal() {
    return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), m_parent,
                           DlgProc, 0);
}

INT_PTR CALLBACK CAboutDlg::DlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL) {
                EndDialog(hwnd, LOWORD(wp));
                return TRUE;
            }
            return FALSE;
        case WM_HELP:
            return TRUE;  // no help file belongs to the tool
        default:
            return FALSE;
    }
}
