#include "ledger/RunLedgers.h"

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

StartVerdict RunLedgers::Started(const RunRecord& record, std::string* error) {
    for (const auto& ledger : m_ledgers) {
        const StartVerdict verdict = ledger->Started(record, error);
        if (verdict != StartVerdict::Recorded) return verdict;
    }
    return StartVerdict::Recorded;
}

bool RunLedgers::Finished(const RunRecord& record, std::string* error) {
    bool ok = true;
    for (const auto& ledger : m_ledgers) {
        std::string cause;
        if (ledger->Finished(record, &cause)) continue;
        *error += (ok ? "" : "; ") + cause;
        ok = false;
    }
    return ok;
}
