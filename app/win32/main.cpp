#include <windows.h>

#include "app/win32/CUpgradeApp.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return theApp.InitInstance();
}
