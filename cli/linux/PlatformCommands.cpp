#include "cli/PlatformCommands.h"

#include "cli/linux/UdevRuleCommand.h"

// udev grants the access to the device node on Linux.
void RegisterPlatformCommands(CLI::App& app, std::function<int()>* run) {
    RegisterUdevRuleCommand(app, run);
}
