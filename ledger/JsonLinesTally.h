#pragma once
// The report over JSON Lines record files (and the rows of databases read beside them), read
// line by line: a final line is counted as soon as it is read; a started line waits (alone) for
// its final line, and one that none ever follows is an interrupted run. Besides the groups,
// only the ids of the runs already counted are kept (16 bytes each), so that a run recorded in
// two files, or in a file and a database, is counted once; the copies dropped are counted.

#include <string>
#include <unordered_map>
#include <unordered_set>

#include "ledger/ReportFilter.h"
#include "ledger/YieldTally.h"

class JsonLinesTally {
public:
    explicit JsonLinesTally(ReportFilter filter) : m_filter(std::move(filter)) {}

    // False, with the cause naming the file, when it cannot be read or holds no record at all.
    bool AddFile(const std::string& path, std::string* error);
    // One line's text; `origin` names it for a record without a run id ("FILE:LINE"). False for
    // a line that is not a record.
    bool AddLine(const std::string& text, const std::string& origin);
    // A database's row of a run (started or final).
    void AddRow(const RunRow& row);
    // A run counted elsewhere (a database's own figures): its lines and rows here are copies.
    void CountedElsewhere(const std::string& run) { MarkCounted(run); }
    // The runs counted, the interrupted ones with them.
    YieldTally Finish();

private:
    struct RunId {
        unsigned long long high = 0, low = 0;
        bool operator==(const RunId&) const = default;
    };
    struct RunIdHash {
        std::size_t operator()(const RunId& id) const { return id.high ^ (id.low * 31); }
    };
    bool Counted(const std::string& run) const;
    void MarkCounted(const std::string& run);
    void Count(const RunRow& row);

    ReportFilter m_filter;
    YieldFold m_fold;
    std::unordered_map<std::string, RunRow> m_open;  // started, no final line yet
    std::unordered_set<RunId, RunIdHash> m_counted;  // run ids of 32 hex digits
    std::unordered_set<std::string> m_countedOther;  // older lines' "FILE:LINE" ids
    int m_skipped = 0;
    int m_duplicates = 0;
};
