#pragma once
// kestrel-cli upgrade --all --yes: every attached device at once, each in its own child
// process (see ChildUpgrades).

#include <memory>
#include <optional>
#include <string>

#include "line/ChildUpgrades.h"
#include "line/LineOptions.h"

class DatabaseLedger;
struct UnitResult;

// What the parent of --all and station does once, before any device is touched: the
// channel, the file (read and hashed once; --expect-sha256), and whether the record file
// takes appends, each said once on stderr. Nothing when all is well, else the exit status.
std::optional<int> ApproveForChildren(LineOptions& options);

// "sdb  KESTREL0001  Finish OK!  84 blocks  7.512 s" (serial "-" when unknown; the cause in
// words when the run showed no message), with "  duplicate serial" after it when another
// attached unit had the same serial, and the child's own error lines below it.
void PrintEnded(ChildUpgrades& runs, const UnitResult& result);
std::string EndedLine(const UnitResult& result);

// The ledgers of a parent's runs (the unit database through its one connection, the record
// file), written by the parent alone (see ChildUpgrades).
ChildUpgrades::Ledgers ParentLedgers(const LineOptions& options,
                                     std::shared_ptr<DatabaseLedger> database);

// Exit status: 0 when every device succeeded, 1 when any failed or none was found, 130 (143)
// after an interrupt cancelled the runs.
int RunAllDevices(LineOptions options);
