#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/StartupOptions.h"
#include "app/win32/CUpgradeApp.h"
#include "image/win32/WideText.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // Elevated, from whatever folder it was started in: every DLL loaded from here on (a
    // delay-loaded one, one a library loads itself) comes from System32, never from beside
    // the program. The statically imported ones are KnownDLLs or, comctl32, the manifest's.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // --version and --help answer on the standard output the program was given (a pipe or a
    // file; a window program has no console of its own).
    int argc = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args;
    for (int i = 0; wide != nullptr && i < argc; ++i) args.push_back(Narrow(wide[i]));
    LocalFree(wide);
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    if (const auto answered =
            AnswerStartupOptions(static_cast<int>(argv.size()), argv.data(), std::cout)) {
        return *answered;
    }
    return theApp.InitInstance();
}
