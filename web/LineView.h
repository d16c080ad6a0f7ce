#pragma once
// The whole line on one page, for a supervisor: every station with its recent units, today's
// yield per station and image, and the alarms, read from the unit database the stations share.
// The server's refresh thread calls Refresh; the request threads read Json.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ledger/RunCounts.h"
#include "ledger/RunRow.h"

class UnitDatabase;

class LineView {
public:
    // Reads what changed of today's runs (UTC) since the last refresh and rebuilds the
    // snapshot; while the database does not answer, the last snapshot stays, marked with the
    // alarm. Each refresh reads the runs that started or ended in the last kOverlap before the
    // newest it has seen (stations' clocks differ a little, and a run's final row replaces its
    // started row); every kWholeDayEvery refreshes, and at midnight, it reads the whole day
    // again, which brings in rows a station sent late (kept while its database was away).
    void Refresh(UnitDatabase& database, const std::string& nowUtc);
    std::string Snapshot() const;
    // The runs the view holds now.
    std::size_t Runs() const;

    static constexpr int kOverlapSeconds = 120;
    static constexpr int kWholeDayEvery = 300;

    // The snapshot of `rows` (runs of the day that began at `since`); `databaseError` non-empty
    // when the database did not answer the last time.
    static std::string Build(const std::vector<RunRow>& rows, const std::string& nowUtc,
                             const std::string& databaseError);

private:
    // One station's card, its alarms and its counts, built from its runs of the day.
    struct Card {
        nlohmann::json card;
        nlohmann::json alarms;
        RunCounts counts;
    };
    static Card BuildStation(const std::string& name, std::vector<const RunRow*> runs);
    static std::string Assemble(const std::map<std::string, Card>& cards, const std::string& nowUtc,
                                const std::string& databaseError);

    mutable std::mutex m_mutex;
    std::string m_day;                                            // "YYYY-MM-DD" of the runs held
    std::map<std::string, std::map<std::string, RunRow>> m_rows;  // by station, by run id
    std::map<std::string, Card> m_cards;                          // by station
    std::string m_newest;     // the latest time a run held was placed at
    int m_sinceWholeDay = 0;  // refreshes since the whole day was read
    std::string m_json = "{\"v\":1,\"stations\":[],\"alarms\":[]}";
};
