#pragma once
// A child's one ledger (upgrade --report, started by upgrade --all and station): its parent,
// the one owner of the unit database and the record file. The started row goes to the parent
// (ChildReport's @claim) and the child waits on stdin for the parent's @verdict before its
// start frame; the final row goes to the parent (@final), which writes it and answers again.
// A parent that no longer answers keeps the start frame back; a parent gone by the end of the
// run (killed) leaves the final line to the child, in the record file the parent named, so
// that a unit flashed is never left without its record.

#include <optional>
#include <string>

#include "ledger/RunLedger.h"

class ParentLedger : public RunLedger {
public:
    explicit ParentLedger(std::optional<std::string> record) : m_record(std::move(record)) {}
    StartVerdict Started(const RunRow& row, std::string* error) override;
    bool Finished(const RunRow& row, std::string* error) override;

private:
    // The parent's answer on stdin; nothing when the parent is gone.
    static std::optional<std::pair<StartVerdict, std::string>> Answer();

    std::optional<std::string> m_record;
};
