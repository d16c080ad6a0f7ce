#include "cli/RunLedgers.h"

bool RunLedgers::Started(const RunRecord& record, std::string* error) {
    for (const auto& ledger : m_ledgers)
        if (!ledger->Started(record, error)) return false;
    return true;
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
