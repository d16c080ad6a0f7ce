#pragma once
// kestrel-cli upgrade --all --yes: every attached device at once, each in its own child
// process (see ChildUpgrades).

#include <optional>
#include <string>
#include <vector>

struct UpgradeChildOptions {
    std::optional<std::string> type;
    std::optional<std::string> channel;
    std::optional<std::string> record;
    std::string file;

    // The options and FILE as each child gets them.
    std::vector<std::string> ChildArguments() const;
};

// Exit status: 0 when every device succeeded, 1 when any failed or none was found, 130 (143)
// after an interrupt cancelled the runs.
int RunAllDevices(const UpgradeChildOptions& options);
