#pragma once
// The whole line on one page, for a supervisor: every station with its recent units, today's
// yield per station and image, and the alarms, read from the unit database the stations share.
// The server's refresh thread calls Refresh; the request threads read Json.

#include <mutex>
#include <string>
#include <vector>

#include "ledger/RunRow.h"

class UnitDatabase;

class LineView {
public:
    // Reads today's runs (UTC) and rebuilds the snapshot; while the database does not answer,
    // the last snapshot stays, marked with the alarm.
    void Refresh(UnitDatabase& database, const std::string& nowUtc);
    std::string Snapshot() const;

    // The snapshot of `rows` (runs of the day that began at `since`); `databaseError` non-empty
    // when the database did not answer the last time.
    static std::string Build(const std::vector<RunRow>& rows, const std::string& nowUtc,
                             const std::string& databaseError);

private:
    mutable std::mutex m_mutex;
    std::vector<RunRow> m_rows;
    std::string m_json = "{\"v\":1,\"stations\":[],\"alarms\":[]}";
};
