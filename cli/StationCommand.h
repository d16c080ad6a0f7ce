#pragma once
#include <functional>

namespace CLI {
class App;
}

// kestrel-cli station [--type bin|hex] [--channel N] [--record FILE] FILE
// Waits for devices and upgrades each newly attached unit once, in parallel, without a prompt.
void RegisterStationCommand(CLI::App& app, std::function<int()>* run);
