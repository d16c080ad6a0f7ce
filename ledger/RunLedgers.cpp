#include "ledger/RunLedgers.h"

#include "ledger/DatabaseLedger.h"

const char* StartVerdictName(StartVerdict verdict) {
    switch (verdict) {
        case StartVerdict::Recorded:
            return "recorded";
        case StartVerdict::Deferred:
            return "deferred";
        case StartVerdict::Refused:
            return "refused";
        case StartVerdict::Failed:
            return "failed";
    }
    return "failed";
}

std::optional<StartVerdict> StartVerdictFromName(const std::string& name) {
    for (StartVerdict verdict : {StartVerdict::Recorded, StartVerdict::Deferred,
                                 StartVerdict::Refused, StartVerdict::Failed})
        if (name == StartVerdictName(verdict)) return verdict;
    return std::nullopt;
}

StartVerdict RunLedgers::Started(const RunRow& row, std::string* error) {
    for (const auto& ledger : m_ledgers) {
        const StartVerdict verdict = ledger->Started(row, error);
        if (verdict != StartVerdict::Recorded) return verdict;
    }
    return StartVerdict::Recorded;
}

bool RunLedgers::Finished(const RunRow& row, std::string* error) {
    bool ok = true;
    for (const auto& ledger : m_ledgers) {
        std::string cause;
        if (ledger->Finished(row, &cause)) continue;
        *error += (ok ? "" : "; ") + cause;
        ok = false;
    }
    return ok;
}

void RunLedgers::Add(std::shared_ptr<RunLedger> ledger) {
    if (const auto* database = dynamic_cast<const DatabaseLedger*>(ledger.get()))
        m_database = database;
    m_ledgers.push_back(std::move(ledger));
}
