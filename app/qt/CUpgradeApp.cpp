#include "app/qt/CUpgradeApp.h"

#include <QApplication>

#include "app/qt/AppIcon.h"
#include "app/qt/CUpgradeDlg.h"

CUpgradeApp theApp;

int CUpgradeApp::InitInstance(int& argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    CUpgradeDlg dlg;
    dlg.exec();
    return 0;
}
