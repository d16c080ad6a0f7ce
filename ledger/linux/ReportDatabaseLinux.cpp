// The report's queries: every figure of YieldTally counted by the database itself with GROUP BY,
// in plain SQL that SQLite and PostgreSQL both take, over a read-only connection. The rules are
// the JSON Lines reader's (YieldFold): a run is placed on the clock by when it ended, else when it
// started; a finished run whose result is none of ok, declined or cancelled counted failed; the
// runs that tried a unit are all but the declined ones. The report's tests hold the two to the
// same numbers.

#include <soci/postgresql/soci-postgresql.h>
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "ledger/DatabaseUrl.h"
#include "ledger/DatabaseUrl.h"
#include "ledger/ReportDatabase.h"

// From SociDatabaseLinux.cpp: a URL without its password, a server message on one printable line.
std::string SociOneLine(const std::string& text);

namespace {

constexpr const char* kWhen = "COALESCE(finished_at, started_at)";
constexpr const char* kOk = "(finished_at IS NOT NULL AND result = 'ok')";
constexpr const char* kFailed =
    "(finished_at IS NOT NULL AND (result IS NULL OR result NOT IN ('ok', 'declined', "
    "'cancelled')))";
constexpr const char* kTry = "(finished_at IS NULL OR result IS NULL OR result <> 'declined')";

std::string Sum(const std::string& condition) {
    return "COALESCE(SUM(CASE WHEN " + condition + " THEN 1 ELSE 0 END), 0)";
}

// The five counts every group has, in YieldCounts' order; failed is what is left.
const std::string kCounts = std::string("COUNT(*), ") + Sum(kOk) + ", " + Sum(kFailed) + ", " +
                            Sum("(finished_at IS NOT NULL AND result = 'cancelled')") + ", " +
                            Sum("(finished_at IS NOT NULL AND result = 'declined')") + ", " +
                            Sum("finished_at IS NULL");

struct Counts {
    long long values[6] = {0, 0, 0, 0, 0, 0};
    YieldCounts Get() const {
        YieldCounts c;
        c.runs = static_cast<int>(values[0]);
        c.ok = static_cast<int>(values[1]);
        c.failed = static_cast<int>(values[2]);
        c.cancelled = static_cast<int>(values[3]);
        c.declined = static_cast<int>(values[4]);
        c.interrupted = static_cast<int>(values[5]);
        return c;
    }
};

// The filter as a WHERE clause, its values bound in order.
struct Where {
    std::string sql;
    std::vector<std::string> values;
    std::string Bind(const std::string& value) {
        values.push_back(value);
        return "CAST(:w" + std::to_string(values.size()) + " AS TEXT)";
    }
};

// The filter's clause; its values are added to w's (a query can hold the filter twice).
std::string FilterSql(const ReportFilter& filter, Where& w) {
    const std::string before = std::move(w.sql);
    w.sql = "1 = 1";
    if (filter.since) w.sql += std::string(" AND ") + kWhen + " >= " + w.Bind(*filter.since);
    if (filter.until) w.sql += std::string(" AND ") + kWhen + " < " + w.Bind(*filter.until);
    if (!filter.stations.empty()) {
        w.sql += " AND station IN (";
        for (std::size_t i = 0; i < filter.stations.size(); ++i)
            w.sql += (i ? ", " : "") + w.Bind(filter.stations[i]);
        w.sql += ")";
    }
    if (filter.image) {
        const std::string& name = *filter.image;
        const std::string prefix = filter.ShaPrefix();
        w.sql += " AND (file = " + w.Bind(name);
        if (!prefix.empty())
            w.sql +=
                " OR SUBSTR(sha256, 1, " + std::to_string(prefix.size()) + ") = " + w.Bind(prefix);
        // By file name: the last part of the path the run was flashed from.
        if (name.find_first_of("/\\") == std::string::npos)
            w.sql += " OR (LENGTH(file) > LENGTH(" + w.Bind(name) +
                     ") AND SUBSTR(file, LENGTH(file) - LENGTH(" + w.Bind(name) +
                     ") + 1) = " + w.Bind(name) + " AND SUBSTR(file, LENGTH(file) - LENGTH(" +
                     w.Bind(name) + "), 1) IN ('/', '\\'))";
        w.sql += ")";
    }
    std::string clause = std::move(w.sql);
    w.sql = before;
    return clause;
}

Where WhereOf(const ReportFilter& filter) {
    Where w;
    w.sql = FilterSql(filter, w);
    return w;
}

// A query with the filter's values bound and each row handed to `row` after the fetch.
template <typename Bind, typename Row>
void Each(soci::session& sql, const std::string& query, Where& where, Bind bind, Row row) {
    soci::statement st(sql);
    st.alloc();
    st.prepare(query);
    bind(st);
    for (std::string& value : where.values) st.exchange(soci::use(value));
    st.define_and_bind();
    st.execute();
    while (st.fetch()) row();
}

void IntoCounts(soci::statement& st, Counts& c) {
    for (long long& value : c.values) st.exchange(soci::into(value));
}

class SociReportDatabase : public ReportDatabase {
public:
    SociReportDatabase(bool postgres) : m_postgres(postgres) {}
    soci::session& Session() { return m_sql; }

    bool Tally(const ReportFilter& filter, YieldTally* tally, std::string* error) override {
        try {
            Query(filter, tally);
            return true;
        } catch (const std::exception& e) {
            *error = "cannot read the runs: " + SociOneLine(e.what());  // no URL in it
            return false;
        }
    }

    bool EachRun(const ReportFilter& filter, const std::function<void(const RunRow&)>& each,
                 std::string* error) override {
        try {
            Where w = WhereOf(filter);
            RunRow row;
            std::string serial, port, drive, startedAt, finishedAt, result, message, lot, code,
                detail;
            soci::indicator serialInd{}, portInd{}, driveInd{}, startedInd{}, finishedInd{},
                resultInd{}, messageInd{}, lotInd{}, codeInd{}, detailInd{};
            int duplicate = 0, startBlock = 0, endBlock = 0, blocksSent = 0;
            const auto text = [](const std::string& value, soci::indicator ind) {
                return ind == soci::i_ok ? std::optional<std::string>(value) : std::nullopt;
            };
            Each(
                m_sql,
                "SELECT run, station, unit, serial, port, drive, duplicate_serial, file, sha256, "
                "start_block, end_block, started_at, finished_at, blocks_sent, seconds, result, "
                "message, lot, result_code, detail FROM runs WHERE " +
                    w.sql,
                w,
                [&](soci::statement& st) {
                    st.exchange(soci::into(row.run));
                    st.exchange(soci::into(row.station));
                    st.exchange(soci::into(row.unit));
                    st.exchange(soci::into(serial, serialInd));
                    st.exchange(soci::into(port, portInd));
                    st.exchange(soci::into(drive, driveInd));
                    st.exchange(soci::into(duplicate));
                    st.exchange(soci::into(row.file));
                    st.exchange(soci::into(row.sha256));
                    st.exchange(soci::into(startBlock));
                    st.exchange(soci::into(endBlock));
                    st.exchange(soci::into(startedAt, startedInd));
                    st.exchange(soci::into(finishedAt, finishedInd));
                    st.exchange(soci::into(blocksSent));
                    st.exchange(soci::into(row.seconds));
                    st.exchange(soci::into(result, resultInd));
                    st.exchange(soci::into(message, messageInd));
                    st.exchange(soci::into(lot, lotInd));
                    st.exchange(soci::into(code, codeInd));
                    st.exchange(soci::into(detail, detailInd));
                },
                [&] {
                    row.serial = text(serial, serialInd);
                    row.port = text(port, portInd);
                    row.drive = text(drive, driveInd);
                    row.duplicateSerial = duplicate != 0;
                    row.startBlock = static_cast<unsigned>(startBlock);
                    row.endBlock = static_cast<unsigned>(endBlock);
                    row.startedAt = text(startedAt, startedInd);
                    row.finishedAt = text(finishedAt, finishedInd);
                    row.blocksSent = blocksSent;
                    row.result = text(result, resultInd).value_or("");
                    row.message = text(message, messageInd).value_or("");
                    row.lot = text(lot, lotInd);
                    row.code = text(code, codeInd).value_or("");
                    row.detail = text(detail, detailInd).value_or("");
                    each(row);
                });
            return true;
        } catch (const std::exception& e) {
            *error = "cannot read the runs: " + SociOneLine(e.what());
            return false;
        }
    }

private:
    void Query(const ReportFilter& filter, YieldTally* t) {
        Where w = WhereOf(filter);
        const std::string from = " FROM runs WHERE " + w.sql;
        // Byte order for the names shown (PostgreSQL would otherwise use the locale's).
        const std::string binary = m_postgres ? " COLLATE \"C\"" : "";
        // SQLite would walk an index in the GROUP BY's order and fetch each row from the table
        // at random (a year of runs: 200 s instead of 17 s); a unary plus makes the key an
        // expression, so it reads the table in order and sorts. PostgreSQL plans this itself.
        const std::string scan = m_postgres ? "" : "+";
        const std::string limit = " LIMIT " + std::to_string(YieldTally::kListLimit);
        const std::string tried = std::string("(finished_at IS NOT NULL AND ") + kTry + ")";
        const std::string seconds = "CASE WHEN " + tried + " THEN seconds END";

        // Slots: their stations, the totals, cycle time and time range are sums of them.
        {
            std::string station, slot, first, last;
            Counts c;
            long long cycleRuns = 0;
            double total = 0, longest = 0;
            Each(
                m_sql,
                "SELECT station, COALESCE(port, drive, ''), " + kCounts + ", " + Sum(tried) +
                    ", CAST(COALESCE(SUM(" + seconds +
                    "), 0) AS DOUBLE PRECISION), CAST(COALESCE(MAX(" + seconds +
                    "), 0) AS DOUBLE PRECISION), MIN(" + kWhen + "), MAX(" + kWhen + ")" + from +
                    " GROUP BY " + scan + "station, COALESCE(port, drive, '')",
                w,
                [&](soci::statement& st) {
                    st.exchange(soci::into(station));
                    st.exchange(soci::into(slot));
                    IntoCounts(st, c);
                    st.exchange(soci::into(cycleRuns));
                    st.exchange(soci::into(total));
                    st.exchange(soci::into(longest));
                    st.exchange(soci::into(first));
                    st.exchange(soci::into(last));
                },
                [&] {
                    const YieldCounts counts = c.Get();
                    t->slots[{station, slot}].Add(counts);
                    YieldTally::Station& s = t->stations[station];
                    s.counts.Add(counts);
                    CycleTime cycle;
                    cycle.runs = cycleRuns;
                    cycle.totalSeconds = total;
                    cycle.longestSeconds = longest;
                    s.cycle.Add(cycle);
                    t->cycle.Add(cycle);
                    t->totals.Add(counts);
                    if (t->first.empty() || first < t->first) t->first = first;
                    if (last > t->last) t->last = last;
                });
        }
        {
            std::string sha, file;
            Counts c;
            Each(
                m_sql,
                "SELECT sha256, MAX(file" + binary + "), " + kCounts + from + " GROUP BY " + scan +
                    "sha256",
                w,
                [&](soci::statement& st) {
                    st.exchange(soci::into(sha));
                    st.exchange(soci::into(file));
                    IntoCounts(st, c);
                },
                [&] {
                    t->images[sha] = {file, c.Get()};
                });
        }
        {
            std::string hour;
            Counts c;
            const std::string key = std::string("SUBSTR(") + kWhen + ", 1, 13)";
            Each(
                m_sql, "SELECT " + key + ", " + kCounts + from + " GROUP BY " + key, w,
                [&](soci::statement& st) {
                    st.exchange(soci::into(hour));
                    IntoCounts(st, c);
                },
                [&] { t->hours[hour].Add(c.Get()); });
        }
        {
            std::string lot;
            Counts c;
            Each(
                m_sql,
                "SELECT COALESCE(lot, ''), " + kCounts + from + " GROUP BY COALESCE(lot, '')", w,
                [&](soci::statement& st) {
                    st.exchange(soci::into(lot));
                    IntoCounts(st, c);
                },
                [&] { t->lots[lot].Add(c.Get()); });
        }
        {
            std::string message;
            long long count = 0;
            Each(
                m_sql,
                "SELECT COALESCE(message, ''), COUNT(*)" + from + " AND " + kFailed +
                    " GROUP BY COALESCE(message, '')",
                w,
                [&](soci::statement& st) {
                    st.exchange(soci::into(message));
                    st.exchange(soci::into(count));
                },
                [&] { t->failures[message] += static_cast<int>(count); });
        }
        // Failures by cause, station and slot, with the latest run's detail.
        {
            std::string station, slot, code, detail;
            long long runs = 0;
            const std::string cause =
                "CASE WHEN result_code IS NULL OR result_code = '' THEN 'failed' ELSE "
                "result_code END";
            const std::string group = "station, COALESCE(port, drive, ''), " + cause;
            Each(
                m_sql,
                "SELECT station, slot, code, runs, detail FROM (SELECT station, COALESCE(port, "
                "drive, '') AS slot, " +
                    cause + " AS code, COUNT(*) OVER (PARTITION BY " + group +
                    ") AS runs, COALESCE(detail, '') AS detail, ROW_NUMBER() OVER (PARTITION BY " +
                    group + " ORDER BY " + kWhen + " DESC) AS n" + from + " AND " + kFailed +
                    ") AS failed_runs WHERE n = 1",
                w,
                [&](soci::statement& st) {
                    st.exchange(soci::into(station));
                    st.exchange(soci::into(slot));
                    st.exchange(soci::into(code));
                    st.exchange(soci::into(runs));
                    st.exchange(soci::into(detail));
                },
                [&] {
                    YieldTally::Cause& c = t->causes[{station, slot, code}];
                    c.runs += static_cast<int>(runs);
                    c.detail = detail;
                    t->totals.causes[code] += static_cast<int>(runs);
                });
        }
        // Units: counted per unit inside the database; only the sums come back.
        {
            long long units = 0, passed = 0, firstPass = 0, twice = 0;
            Each(
                m_sql,
                "SELECT COUNT(*), COALESCE(SUM(passed), 0), COALESCE(SUM(first_pass), 0), "
                "COALESCE(SUM(twice), 0) FROM (SELECT CASE WHEN " +
                    Sum(kOk) + " > 0 THEN 1 ELSE 0 END AS passed, CASE WHEN MIN(CASE WHEN " + kOk +
                    " THEN " + kWhen + " END) = MIN(CASE WHEN " + kTry + " THEN " + kWhen +
                    " END) THEN 1 ELSE 0 END AS first_pass, CASE WHEN " + Sum(kFailed) +
                    " >= 2 THEN 1 ELSE 0 END AS twice" + from + " GROUP BY " + scan +
                    "unit_key HAVING " + Sum(kTry) + " > 0) AS per_unit",
                w,
                [&](soci::statement& st) {
                    st.exchange(soci::into(units));
                    st.exchange(soci::into(passed));
                    st.exchange(soci::into(firstPass));
                    st.exchange(soci::into(twice));
                },
                [&] {
                    t->unitsTried = static_cast<int>(units);
                    t->unitsPassed = static_cast<int>(passed);
                    t->unitsFirstPass = static_cast<int>(firstPass);
                    t->unitsFailedTwice = static_cast<int>(twice);
                });
        }
        // The units the lists name (the latest never passed, the most failures), per station
        // they were at.
        {
            Where lists = w;
            const std::string rework = " FROM runs WHERE " + FilterSql(filter, lists);
            const std::string repeats = " FROM runs WHERE " + FilterSql(filter, lists);
            const std::string perUnit =
                " GROUP BY " + scan + "unit_key HAVING " + Sum(kTry) + " > 0";
            std::string unitKey, station, first, last;
            Counts c;
            std::map<std::string, UnitLine> units;
            Each(
                m_sql,
                "SELECT unit_key, station, " + kCounts + ", MIN(" + kWhen + "), MAX(" + kWhen +
                    ")" + from + " AND (" + scan + "unit_key IN (SELECT unit_key" + rework +
                    perUnit + " AND " + Sum(kOk) + " = 0 ORDER BY MAX(" + kWhen +
                    ") DESC, unit_key" + binary + limit + ") OR " + scan +
                    "unit_key IN (SELECT unit_key" + repeats + perUnit + " AND " + Sum(kFailed) +
                    " >= 2 ORDER BY " + Sum(kFailed) + " DESC, unit_key" + binary + limit +
                    ")) GROUP BY unit_key, station",
                lists,
                [&](soci::statement& st) {
                    st.exchange(soci::into(unitKey));
                    st.exchange(soci::into(station));
                    IntoCounts(st, c);
                    st.exchange(soci::into(first));
                    st.exchange(soci::into(last));
                },
                [&] {
                    UnitLine& unit = units[unitKey];
                    unit.unitKey = unitKey;
                    unit.unit = UnitIdentity::LabelOf(unitKey);
                    unit.counts.Add(c.Get());
                    unit.stations.push_back(station);
                    if (unit.firstSeen.empty() || first < unit.firstSeen) unit.firstSeen = first;
                    if (last > unit.lastSeen) unit.lastSeen = last;
                });
            for (auto& [key, unit] : units) {
                std::sort(unit.stations.begin(), unit.stations.end());
                if (unit.counts.ok == 0) t->rework.push_back(unit);
                if (unit.counts.failed >= 2) t->repeats.push_back(unit);
            }
        }
        {
            InterruptedRun run;
            Each(
                m_sql,
                "SELECT run, station, unit, COALESCE(started_at, '')" + from +
                    " AND finished_at IS NULL ORDER BY COALESCE(started_at, ''), run" + binary +
                    limit,
                w,
                [&](soci::statement& st) {
                    st.exchange(soci::into(run.run));
                    st.exchange(soci::into(run.station));
                    st.exchange(soci::into(run.unit));
                    st.exchange(soci::into(run.startedAt));
                },
                [&] { t->interrupted.push_back(run); });
        }
        t->SortLists();
    }

    bool m_postgres;
    soci::session m_sql;
};

}  // namespace

// The module's entry point for the report, looked up by name.
extern "C" __attribute__((visibility("default"))) ReportDatabase* KestrelOpenReportDatabase(
    const std::string& text, std::string* error) {
    const std::optional<DatabaseUrl> url = DatabaseUrl::Parse(text, error);
    if (!url) return nullptr;
    auto db = std::make_unique<SociReportDatabase>(!url->IsSqlite());
    const auto say = [&url](const std::string& what) { return url->Scrub(SociOneLine(what)); };
    try {
        if (url->IsSqlite()) {
            // Read-only: a path that is not there stays not there.
            struct stat info {};
            if (::stat(url->SqlitePath().c_str(), &info) != 0) {
                *error = "cannot read the database " + url->Shown() + ": " + std::strerror(errno);
                return nullptr;
            }
            db->Session().open(*soci::factory_sqlite3(), url->Connect(30) + " readonly=1");
        } else {
            db->Session().open(*soci::factory_postgresql(), url->Connect(30));
            // A year of runs may take the server longer than a station's statements may.
            db->Session() << "SET statement_timeout = 0";
        }
        long long version = 0;
        soci::indicator ind = soci::i_null;
        try {
            db->Session() << "SELECT MAX(version) FROM schema_version", soci::into(version, ind);
        } catch (const std::exception&) {
            ind = soci::i_null;
        }
        if (ind != soci::i_ok) {
            *error = url->Shown() + " is not a Kestrel unit database (it has no runs)";
            return nullptr;
        }
    } catch (const std::exception& e) {
        *error = "cannot read the database " + url->Shown() + ": " + say(e.what());
        return nullptr;
    }
    return db.release();
}
