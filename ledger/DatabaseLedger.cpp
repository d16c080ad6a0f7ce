#include "ledger/DatabaseLedger.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

CLI::Option* AddDatabaseOption(CLI::App& command, std::optional<std::string>& db) {
    return command
        .add_option("--db", db,
                    "Record each run in the unit database URL (sqlite:PATH, postgresql://...; "
                    "env:NAME reads the URL from the environment variable NAME) and claim the "
                    "unit there before its start frame")
        ->transform(CLI::Validator(
            [](std::string& url) {
                // env:NAME keeps a URL with a password off the command line, which every user
                // of the machine can read; the children of --all and station get it so.
                if (url.rfind("env:", 0) == 0) {
                    const char* value = std::getenv(url.substr(4).c_str());
                    if (!value) return "the environment variable " + url.substr(4) + " is not set";
                    url = value;
                }
                return IsDatabaseUrl(url) ? std::string()
                                          : std::string("expected sqlite:PATH or postgresql://...");
            },
            "URL"));
}

std::unique_ptr<DatabaseLedger> DatabaseLedger::Open(const std::string& url,
                                                     const UnitPolicy& policy, std::string* error) {
    auto ledger = std::make_unique<DatabaseLedger>(url, policy);
    if (!ledger->Connection(error)) return nullptr;
    return ledger;
}

UnitDatabase* DatabaseLedger::Connection(std::string* error) {
    if (!m_db) m_db = UnitDatabase::Open(m_url, error);
    return m_db.get();
}

StartVerdict DatabaseLedger::Started(const RunRow& row, std::string* error) {
    std::lock_guard lock(m_mutex);
    ClaimVerdict verdict;
    if (UnitDatabase* db = Connection(&verdict.error)) verdict = db->ClaimAndStart(row, m_policy);
    if (verdict.Allowed()) return StartVerdict::Recorded;
    // No started row was written: nothing of this run is the database's to finish.
    *error = verdict.Message();
    std::string& reason = m_leftAlone[row.run];
    switch (verdict.outcome) {
        case ClaimVerdict::Outcome::Done:
            reason = "done";
            return StartVerdict::Refused;
        case ClaimVerdict::Outcome::HeldBack:
            reason = "held-back";
            return StartVerdict::Refused;
        case ClaimVerdict::Outcome::Busy:
            reason = "claimed";
            break;
        case ClaimVerdict::Outcome::Claimed:
        case ClaimVerdict::Outcome::Error:
            reason = "database";
            break;
    }
    return StartVerdict::Deferred;
}

bool DatabaseLedger::Finished(const RunRow& row, std::string* error) {
    std::lock_guard lock(m_mutex);
    // Not counted against the unit: the station that holds it, or its history, said no.
    if (m_leftAlone.erase(row.run) > 0) return true;
    // A connection that stopped answering still keeps the row for later (see UnitDatabase).
    std::string note;
    UnitDatabase* db = Connection(&note);
    if (!db || !db->Finish(row, &note)) {
        *error = note;
        return false;
    }
    // Not lost, only late: the run's outcome stands.
    if (!note.empty()) std::cerr << "kestrel-cli: " << note << '\n';
    return true;
}

std::string DatabaseLedger::LeftAloneReason(const std::string& run) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_leftAlone.find(run);
    return it == m_leftAlone.end() ? std::string() : it->second;
}

bool DatabaseLedger::Ping(std::string* error) {
    std::lock_guard lock(m_mutex);
    if (m_db && m_db->Ping(error)) return true;
    // A new connection replaces the old one only once it answers: until then the old one keeps
    // what the runs still going give it (see UnitDatabase::Finish).
    std::unique_ptr<UnitDatabase> fresh = UnitDatabase::Open(m_url, error);
    if (!fresh) return false;
    m_db = std::move(fresh);
    return true;
}

ClaimVerdict DatabaseLedger::Check(const std::string& unitKey, const std::string& sha256) {
    std::lock_guard lock(m_mutex);
    ClaimVerdict verdict;
    UnitDatabase* db = Connection(&verdict.error);
    return db ? db->Check(unitKey, sha256, m_policy) : verdict;
}
