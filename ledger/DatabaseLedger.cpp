#include "ledger/DatabaseLedger.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "ledger/RunRecord.h"

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
    std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(url, error);
    if (!db) return nullptr;
    return std::unique_ptr<DatabaseLedger>(new DatabaseLedger(std::move(db), policy));
}

StartVerdict DatabaseLedger::Started(const RunRecord& record, std::string* error) {
    const ClaimVerdict verdict = m_db->ClaimAndStart(record.ToRow(false), m_policy);
    if (verdict.Allowed()) return StartVerdict::Recorded;
    // No started row was written: nothing of this run is the database's to finish.
    m_refused = true;
    *error = verdict.Message();
    switch (verdict.outcome) {
        case ClaimVerdict::Outcome::Done:
            m_reason = "done";
            return StartVerdict::Refused;
        case ClaimVerdict::Outcome::HeldBack:
            m_reason = "held-back";
            return StartVerdict::Refused;
        case ClaimVerdict::Outcome::Busy:
            m_reason = "claimed";
            break;
        case ClaimVerdict::Outcome::Claimed:
        case ClaimVerdict::Outcome::Error:
            m_reason = "database";
            break;
    }
    return StartVerdict::Deferred;
}

bool DatabaseLedger::Finished(const RunRecord& record, std::string* error) {
    // Not counted against the unit: the station that holds it, or its history, said no.
    if (m_refused) return true;
    std::string note;
    const bool kept = m_db->Finish(record.ToRow(true), &note);
    if (!kept) {
        *error = note;
        return false;
    }
    // Not lost, only late: the run's outcome stands.
    if (!note.empty()) std::cerr << "kestrel-cli: " << note << '\n';
    return true;
}
