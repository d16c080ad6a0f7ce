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
    std::optional<std::string> station;
    std::optional<std::string> expectSha256;
    std::optional<std::string> db;  // --db URL (see DatabaseLedger)
    int maxAttempts = 0;            // station --max-attempts
    bool skipDone = false;          // station: a unit done with this image anywhere is left alone
    std::string file;
    // The file's hash as the parent read it (see ApprovedParentImage); every child refuses a
    // file that no longer has it.
    std::string approvedSha256 = {};

    // The options and FILE as each child gets them.
    std::vector<std::string> ChildArguments() const;
};

// What the parent of --all and station does once, before any device is touched: the
// channel, the file (read and hashed once; --expect-sha256), and whether the record file
// takes appends, each said once on stderr. Nothing when all is well, else the exit status.
std::optional<int> ApproveForChildren(UpgradeChildOptions& options);

// Exit status: 0 when every device succeeded, 1 when any failed or none was found, 130 (143)
// after an interrupt cancelled the runs.
int RunAllDevices(UpgradeChildOptions options);
