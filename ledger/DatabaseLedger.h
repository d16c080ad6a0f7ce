#pragma once
// The unit database as one of a run's ledgers (--db URL): the started entry is the unit's claim
// and started row, written in one transaction, and the cross-station policy decides there
// whether the unit may be flashed at all; the final entry completes the row and gives the claim
// up. A final row the database does not take waits in a file of unsent rows (see UnitDatabase)
// and is written at the next connection; the run says so on stderr.
//
// One object is one connection, whatever the number of runs it carries at once: a station (and
// upgrade --all) holds one for all its slots and its children never connect (see ChildUpgrades).
// Its calls may come from several threads; they take turns on the connection. A connection
// that was lost is made anew at the next call.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ledger/RunLedger.h"
#include "ledger/RunRow.h"
#include "ledger/UnitDatabase.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

// Adds "--db URL" to a sub-command (sqlite:PATH or postgresql://...).
CLI::Option* AddDatabaseOption(CLI::App& command, std::optional<std::string>& db);

class DatabaseLedger : public RunLedger {
public:
    // Connects at the first call that needs the database.
    DatabaseLedger(std::string url, const UnitPolicy& policy)
        : m_url(std::move(url)), m_policy(policy) {}
    // Connects now (creating an SQLite file and its schema on first use); nothing, with the
    // cause in *error, when the database cannot be used. Linux only: on Windows the cause says
    // so.
    static std::unique_ptr<DatabaseLedger> Open(const std::string& url, const UnitPolicy& policy,
                                                std::string* error);

    StartVerdict Started(const RunRow& row, std::string* error) override;
    bool Finished(const RunRow& row, std::string* error) override;
    // Why the run's unit was left alone, as the event stream names it: "claimed" (another
    // station flashes it, or the database stopped answering: "database"), "done", "held-back";
    // "" when it was not.
    std::string LeftAloneReason(const std::string& run) const;

    // A station's questions before it starts a unit: whether the database answers (connecting
    // anew when the connection does not), and the policy's verdict on a unit without claiming
    // it.
    bool Ping(std::string* error);
    ClaimVerdict Check(const std::string& unitKey, const std::string& sha256);

private:
    // The connection, made when there is none; nothing with the cause in *error.
    UnitDatabase* Connection(std::string* error);

    std::string m_url;
    UnitPolicy m_policy;
    mutable std::mutex m_mutex;
    std::unique_ptr<UnitDatabase> m_db;
    // Runs whose unit a claim or the policy refused: no run of the unit, nothing to finish.
    std::map<std::string, std::string> m_leftAlone;
};
