#pragma once
#include <functional>

namespace CLI {
class App;
}

// kestrel-cli gen-bin  [--type bin|hex] FILE OUT   (program file OUT and its burn file)
// kestrel-cli gen-body [--type bin|hex] FILE OUT
// Each loads FILE as Browse does, then writes as the Generate buttons do, OUT standing in for
// the save dialog's answer (the default extension "bin" is applied the same way).
void RegisterGenerateCommands(CLI::App& app, std::function<int()>* run);
