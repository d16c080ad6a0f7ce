#pragma once
// A unit database opened only to be read, for the report: nothing is created or migrated, so a
// manager's read-only role can run it, and a path or database that is not there is an error,
// never a new empty database. The figures are counted by the database's own GROUP BY queries
// (in the database module, ledger/linux/ReportDatabaseLinux.cpp); only the groups and the
// report's lists come back.

#include <functional>
#include <memory>
#include <string>

#include "ledger/ReportFilter.h"
#include "ledger/YieldTally.h"

class ReportDatabase {
public:
    // Nothing, with the cause in *error, when the database cannot be opened for reading or is
    // not a Kestrel unit database.
    static std::unique_ptr<ReportDatabase> Open(const std::string& url, std::string* error);
    virtual ~ReportDatabase() = default;

    virtual bool Tally(const ReportFilter& filter, YieldTally* tally, std::string* error) = 0;
    // Every run the filter keeps, one row at a time, with the fields the report counts; for a
    // report that reads this database beside other sources and counts each run once.
    virtual bool EachRun(const ReportFilter& filter, const std::function<void(const RunRow&)>& row,
                         std::string* error) = 0;
};
