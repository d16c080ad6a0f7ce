#include "ledger/StationLedger.h"

StationLedger::StationLedger(std::optional<std::string> url, std::string sha256, UnitPolicy policy)
    : m_url(std::move(url)), m_sha256(std::move(sha256)), m_policy(policy) {
    if (m_url) m_runs = std::make_shared<DatabaseLedger>(*m_url, m_policy);
}

bool StationLedger::Available(const Print& print) {
    if (!m_url) return true;
    const auto now = std::chrono::steady_clock::now();
    if (m_away && now < m_nextTry) return false;
    std::string error;
    if (m_runs->Ping(&error)) {
        if (m_away) print(false, "station: the database answers again");
        m_away = false;
        return true;
    }
    if (!m_away)
        print(true, "station: the database does not answer (" + error +
                        "); no new unit starts until it does, trying again every " +
                        std::to_string(kRetry.count()) + " s");
    m_away = true;
    m_nextTry = now + kRetry;
    return false;
}

ClaimVerdict StationLedger::Admit(const std::string& unitKey) {
    if (!m_runs) {
        ClaimVerdict go;
        go.outcome = ClaimVerdict::Outcome::Claimed;
        return go;
    }
    return m_runs->Check(unitKey, m_sha256);
}
