// Windows: _isatty only asks whether a handle is a character device, which the NUL device is,
// so "kestrel-cli upgrade < NUL" would wait at a prompt nobody can answer. A console is what
// GetConsoleMode accepts.
#include <windows.h>

#include "cli/Terminal.h"

bool IsTerminal(StandardStream stream) {
    HANDLE handle =
        GetStdHandle(stream == StandardStream::Input ? STD_INPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetConsoleMode(handle, &mode) != 0;
}
