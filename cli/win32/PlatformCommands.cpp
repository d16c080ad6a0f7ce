#include "cli/PlatformCommands.h"

// Windows grants drive access by account (administrator): nothing to set up per device.
void RegisterPlatformCommands(CLI::App&, std::function<int()>*) {}
