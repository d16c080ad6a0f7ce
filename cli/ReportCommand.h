#pragma once
#include <functional>

namespace CLI {
class App;
}

// kestrel-cli report [--json] [--html FILE] SOURCE...
// SOURCE is a JSON Lines record file (from any station, Windows ones too) or a unit database
// (sqlite:PATH, postgresql://...). Registers the sub-command; *run is set to the code that runs
// it and returns the exit status.
void RegisterReportCommand(CLI::App& app, std::function<int()>* run);
