#pragma once
// Sub-commands that exist on one platform only.

#include <functional>

namespace CLI {
class App;
}

void RegisterPlatformCommands(CLI::App& app, std::function<int()>* run);
