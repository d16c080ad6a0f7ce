#include <unistd.h>

#include "cli/Terminal.h"

bool IsTerminal(StandardStream stream) {
    return ::isatty(stream == StandardStream::Input ? STDIN_FILENO : STDERR_FILENO) != 0;
}
