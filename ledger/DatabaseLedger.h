#pragma once
// The unit database as one of a run's ledgers (--db URL): the started entry is the unit's claim
// and started row, written in one transaction, and the cross-station policy decides there
// whether the unit may be flashed at all; the final entry completes the row and gives the claim
// up. A final row the database does not take waits in a file of unsent rows (see UnitDatabase)
// and is written at the next connection; the run says so on stderr.

#include <memory>
#include <optional>
#include <string>

#include "ledger/RunLedger.h"
#include "ledger/RunRow.h"
#include "ledger/UnitDatabase.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI
struct RunRecord;

// Adds "--db URL" to a sub-command (sqlite:PATH or postgresql://...).
CLI::Option* AddDatabaseOption(CLI::App& command, std::optional<std::string>& db);

class DatabaseLedger : public RunLedger {
public:
    // Connects (creating an SQLite file and its schema on first use); nothing, with the cause
    // in *error, when the database cannot be used. Linux only: on Windows the cause says so.
    static std::unique_ptr<DatabaseLedger> Open(const std::string& url, const UnitPolicy& policy,
                                                std::string* error);

    StartVerdict Started(const RunRecord& record, std::string* error) override;
    bool Finished(const RunRecord& record, std::string* error) override;
    // Why the unit was left alone, as the event stream names it: "claimed" (another station
    // flashes it, or the database stopped answering: "database"), "done", "held-back".
    const char* LeftAloneReason() const { return m_reason; }

private:
    DatabaseLedger(std::unique_ptr<UnitDatabase> db, const UnitPolicy& policy)
        : m_db(std::move(db)), m_policy(policy) {}

    std::unique_ptr<UnitDatabase> m_db;
    UnitPolicy m_policy;
    // Refused by a claim or the policy: the unit was left alone, which is no run of its.
    bool m_refused = false;
    const char* m_reason = "";
};
