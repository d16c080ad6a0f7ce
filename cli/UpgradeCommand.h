#pragma once
#include <functional>

namespace CLI {
class App;
}

// kestrel-cli upgrade [--type bin|hex] [--yes] [--channel N] FILE
// Registers the sub-command; *run is set to the code that runs it and returns the exit status.
void RegisterUpgradeCommand(CLI::App& app, std::function<int()>* run);
