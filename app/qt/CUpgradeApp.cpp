#include "app/qt/CUpgradeApp.h"

#include <QApplication>

#include "app/qt/AppIcon.h"
#include "app/qt/CUpgradeDlg.h"

CUpgradeApp theApp;

// A member of the application object, as the dialog's design names it, not a static function.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
int CUpgradeApp::InitInstance(int& argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    CUpgradeDlg dlg;
    dlg.exec();
    return 0;
}
