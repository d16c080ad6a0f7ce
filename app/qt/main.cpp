#include "app/qt/CUpgradeApp.h"

int main(int argc, char** argv) {
    return theApp.InitInstance(argc, argv);
}
