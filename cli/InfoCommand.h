#pragma once
#include <functional>

namespace CLI {
class App;
}

// kestrel-cli info [--type bin|hex] [--json] FILE
// Registers the sub-command; *run is set to the code that runs it and returns the exit status.
void RegisterInfoCommand(CLI::App& app, std::function<int()>* run);
