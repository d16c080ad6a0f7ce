#include <windows.h>

#include <shellapi.h>

#include "cli/CommandLine.h"
#include "image/win32/WideText.h"

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    // The first thing main asks of Windows. From an administrator prompt in a download folder
    // this program runs elevated: every DLL loaded from here on (bcrypt.dll is delay-loaded for
    // this) comes from System32, never from beside the program.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        if (wide != nullptr) LocalFree(wide);
        return {argv, argv + argc};  // as the C runtime split it
    }
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(Narrow(wide[i]));
    LocalFree(wide);
    return args;
}
