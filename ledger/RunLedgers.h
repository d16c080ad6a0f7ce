#pragma once
// The ledgers one run writes to, in the order they were added.

#include <memory>
#include <string>
#include <vector>

#include "ledger/RunLedger.h"

class DatabaseLedger;

// Its calls may come from several threads at once (a station's runs) when every ledger's may.
class RunLedgers {
public:
    void Add(std::shared_ptr<RunLedger> ledger);
    bool Empty() const { return m_ledgers.empty(); }
    // The unit database among them, if any.
    const DatabaseLedger* Database() const { return m_database; }

    // Every ledger must take the started entry; stops at the first that does not and gives its
    // verdict.
    StartVerdict Started(const RunRow& row, std::string* error);
    // Every ledger is given the final entry; false when any did not take it (causes joined).
    bool Finished(const RunRow& row, std::string* error);

private:
    std::vector<std::shared_ptr<RunLedger>> m_ledgers;
    const DatabaseLedger* m_database = nullptr;
};
