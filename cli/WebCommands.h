#pragma once
// The console's side of the pages: --web, --web-token-file and --slots, and `line`, the whole
// line's page from the unit database.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "web/WebService.h"

namespace CLI {
class App;
}

struct WebCliOptions {
    std::optional<std::string> listen;  // --web [ADDR:]PORT
    std::optional<std::string> tokenFile;
    std::optional<std::string> slotsFile;
};

void AddWebOptions(CLI::App& command, WebCliOptions& options, bool slots);
// Starts the station's pages when --web was given and says where they are; nothing (and no
// error) without --web. On a set-up mistake *status is the exit status to end with.
std::unique_ptr<WebService> StartStationPages(const WebCliOptions& options, int* status);

// kestrel-cli line --db URL --web [ADDR:]PORT [--web-token-file FILE]
void RegisterLineCommand(CLI::App& app, std::function<int()>* run);
