#pragma once
#include <functional>
#include <string>

namespace CLI {
class App;
}

// kestrel-cli list [--json]
// Every drive the device search looks at, in search order: its kind, whether it opened (with the
// OS error if not) and how it answered identify. Exit 0 when the device was found, 1 otherwise.
void RegisterListCommand(CLI::App& app, std::function<int()>* run);

// After a search that found no device: for each candidate drive that cannot be opened for want
// of rights, its name, the OS error and how to get the rights (the group kestrel or the udev
// rule on Linux, an administrator command prompt on Windows); "" when there is no such drive.
// Opens and closes the candidates, sends them nothing.
std::string UnopenedDrivesAdvice();
