#pragma once
#include <functional>

namespace CLI {
class App;
}

// kestrel-cli list [--json]
// Every drive the device search looks at, in search order: its kind, whether it opened (with the
// OS error if not) and how it answered identify. Exit 0 when the device was found, 1 otherwise.
void RegisterListCommand(CLI::App& app, std::function<int()>* run);
