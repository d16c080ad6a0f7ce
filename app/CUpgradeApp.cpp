#include "app/CUpgradeApp.h"

#include <QApplication>

#include "app/AppIcon.h"
#include "app/CUpgradeDlg.h"

CUpgradeApp theApp;

int CUpgradeApp::InitInstance(int& argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    CUpgradeDlg dlg;
    dlg.exec();
    return 0;
}
