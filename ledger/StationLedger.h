#pragma once
// A station's own view of the unit database (station --db URL): before a unit's child is
// started, whether the database answers at all and what the cross-station policy says of the
// unit. While the database does not answer the station starts no new unit: it says so once,
// tries the connection again every few seconds and says when it answers again. The run repeats
// the policy in the transaction that claims the unit, so two stations deciding at once still
// flash a unit only once.
//
// The station's one connection: Runs() is the ledger through which every run of the station
// claims its unit and writes its rows (its children never connect), on the same connection.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ledger/DatabaseLedger.h"
#include "ledger/UnitDatabase.h"

class StationLedger {
public:
    // away: true when the database went away, false when it answers again.
    using Print = std::function<void(bool away, const std::string&)>;

    // Without a URL every unit may start.
    StationLedger(std::optional<std::string> url, std::string sha256, UnitPolicy policy);
    virtual ~StationLedger() = default;

    // Whether a new unit may start now. Reconnects at most every kRetry while the database is
    // away; print gets "station: the database does not answer ..." once when it goes away and
    // "station: the database answers again" when it is back.
    virtual bool Available(const Print& print);
    // The policy's verdict on a unit (by UnitIdentity::Key); Claimed means go ahead.
    virtual ClaimVerdict Admit(const std::string& unitKey);
    virtual bool Enabled() const { return m_url.has_value(); }
    // The runs' ledger on the station's connection; nothing without a URL.
    const std::shared_ptr<DatabaseLedger>& Runs() const { return m_runs; }

    static constexpr std::chrono::seconds kRetry{2};

private:
    std::optional<std::string> m_url;
    std::string m_sha256;
    UnitPolicy m_policy;
    std::shared_ptr<DatabaseLedger> m_runs;
    bool m_away = false;
    std::chrono::steady_clock::time_point m_nextTry{};
};
