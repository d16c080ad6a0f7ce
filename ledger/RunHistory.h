#pragma once
// Every run the records hold, one row per run id, gathered from JSON Lines files (from any
// station, Windows ones too) and from the unit database. A started line and the final line of
// the same run become one row wherever each was found; a started line without a final line is
// an interrupted run.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ledger/RunRow.h"

// Applies one JSON Lines record to the row of its run, which rowFor(run id) gives; `origin`
// names a line without a run id of its own ("FILE:LINE"). False (rowFor not called) for a line
// that is not a record; *final tells a final line from a started one.
bool ApplyRecordLine(const std::string& text, const std::string& origin,
                     const std::function<RunRow&(const std::string& run)>& rowFor, bool* final);

class RunHistory {
public:
    // Reads a JSON Lines record file. Lines that are not a record object (a line cut short by a
    // crash, say) are counted in SkippedLines(), never guessed at. False, with the cause naming
    // the file, when the file cannot be read.
    bool AddJsonLinesFile(const std::string& path, std::string* error);
    // One line's text; `origin` names it for a record without a run id ("FILE:LINE").
    bool AddJsonLine(const std::string& line, const std::string& origin);
    // A row from the database: its fields win over what the files said of the same run.
    void Add(const RunRow& row);

    std::vector<RunRow> Rows() const;  // by the time that places each on the clock, then run id
    int SkippedLines() const { return m_skipped; }

private:
    std::map<std::string, RunRow> m_runs;
    int m_skipped = 0;
};
