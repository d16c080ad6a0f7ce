#include "app/win32/CUpgradeApp.h"

#include "app/win32/CUpgradeDlg.h"

#include <windows.h>
#include <commctrl.h>

CUpgradeApp theApp;

int CUpgradeApp::InitInstance() {
    // The progress bar is a common control; the classic ones (no visual styles) keep the look
    // the template was drawn for.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    CUpgradeDlg dlg;
    dlg.DoModal();
    return 0;
}
