#pragma once
// The ledgers one run writes to, in the order they were added.

#include <memory>
#include <string>
#include <vector>

#include "ledger/RunLedger.h"

class RunLedgers {
public:
    void Add(std::unique_ptr<RunLedger> ledger) { m_ledgers.push_back(std::move(ledger)); }
    bool Empty() const { return m_ledgers.empty(); }

    // Every ledger must take the started entry; stops at the first that does not and gives its
    // verdict.
    StartVerdict Started(const RunRecord& record, std::string* error);
    // Every ledger is given the final entry; false when any did not take it (causes joined).
    bool Finished(const RunRecord& record, std::string* error);

private:
    std::vector<std::unique_ptr<RunLedger>> m_ledgers;
};
