#include "ledger/StationLedger.h"

StationLedger::StationLedger(std::optional<std::string> url, std::string sha256, UnitPolicy policy)
    : m_url(std::move(url)), m_sha256(std::move(sha256)), m_policy(policy) {}

bool StationLedger::Available(const Print& print) {
    if (!m_url) return true;
    const auto now = std::chrono::steady_clock::now();
    if (m_away && now < m_nextTry) return false;
    std::string error;
    const bool answers =
        m_db ? m_db->Ping(&error) : (m_db = UnitDatabase::Open(*m_url, &error)) != nullptr;
    if (answers) {
        if (m_away) print(false, "station: the database answers again");
        m_away = false;
        return true;
    }
    m_db.reset();
    if (!m_away)
        print(true, "station: the database does not answer (" + error +
                        "); no new unit starts until it does, trying again every " +
                        std::to_string(kRetry.count()) + " s");
    m_away = true;
    m_nextTry = now + kRetry;
    return false;
}

ClaimVerdict StationLedger::Admit(const std::string& unitKey) {
    if (!m_db) {
        ClaimVerdict go;
        go.outcome = ClaimVerdict::Outcome::Claimed;
        return go;
    }
    const ClaimVerdict verdict = m_db->Check(unitKey, m_sha256, m_policy);
    // A database that stopped answering since: no new unit until it is back.
    if (verdict.outcome == ClaimVerdict::Outcome::Error) {
        m_db.reset();
        m_away = false;
    }
    return verdict;
}
