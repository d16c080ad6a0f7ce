#pragma once
// The About box: dialog template 100 of the resource script, no handlers of its own.

#include <windows.h>

class CAboutDlg {
public:
    explicit CAboutDlg(HWND parent) : m_parent(parent) {}
    INT_PTR DoModal();

private:
    static INT_PTR CALLBACK DlgProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    HWND m_parent;
};
