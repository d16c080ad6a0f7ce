// The line page over a day of a line: 50 stations of 24 slots writing their runs into one unit
// database (through the product's own UnitDatabase::Finish), and the line page's refresh
// (LineView::Refresh, every second while a supervisor watches) measured as the day fills up:
// the database time of one refresh (what it reads since its last refresh), the database time of
// the whole day's read it makes every LineView::kWholeDayEvery refreshes and at midnight, and
// the time to build the page's JSON.
//
//   kestrel_line_view URL [RUNS]     (default 30,000 runs over the day)
//
// Prints one line per step of the day (every sixth of RUNS): the runs in the day, the median
// and 95th percentile of 20 refreshes' database time (a new run or two between refreshes, as a
// line makes them), the whole day's read, and the page build.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ledger/RunHistory.h"
#include "ledger/UnitDatabase.h"
#include "web/LineView.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStations = 50;
constexpr int kSlots = 24;
constexpr int kRefreshes = 20;
constexpr int kSteps = 6;

// The database the page reads, with the time of each read kept.
class TimedDatabase : public UnitDatabase {
public:
    explicit TimedDatabase(UnitDatabase& inner) : m_inner(inner) {}
    ClaimVerdict Check(const std::string& unitKey, const std::string& sha256,
                       const UnitPolicy& policy) override {
        return m_inner.Check(unitKey, sha256, policy);
    }
    ClaimVerdict ClaimAndStart(const RunRow& started, const UnitPolicy& policy) override {
        return m_inner.ClaimAndStart(started, policy);
    }
    bool Finish(const RunRow& final, std::string* note) override {
        return m_inner.Finish(final, note);
    }
    bool ReadRuns(RunHistory& history, std::string* error) override {
        return m_inner.ReadRuns(history, error);
    }
    bool ReadRunsSince(const std::string& since, std::vector<RunRow>* rows,
                       std::string* error) override {
        const auto begin = Clock::now();
        const bool read = m_inner.ReadRunsSince(since, rows, error);
        lastMs = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
        lastRows = rows->size();
        return read;
    }
    bool Ping(std::string* error) override { return m_inner.Ping(error); }

    double lastMs = 0.0;
    std::size_t lastRows = 0;

private:
    UnitDatabase& m_inner;
};

// "2026-12-08T" + the second of the day the run ends at.
std::string TimeOfDay(long long second) {
    char text[64];
    std::snprintf(text, sizeof text, "2026-12-08T%02lld:%02lld:%02lld.000Z", second / 3600,
                  second / 60 % 60, second % 60);
    return text;
}

RunRow Run(long long n, long long runs) {
    const int station = static_cast<int>(n % kStations);
    const int slot = static_cast<int>(n / kStations % kSlots);
    // Spread over the day: run n ends at second n * 86,000 / runs.
    const long long second = n * 86000 / runs;
    char id[40];
    std::snprintf(id, sizeof id, "%016llx%016llx", 0xbe0cULL, static_cast<unsigned long long>(n));
    RunRow row;
    row.run = id;
    row.station = "st" + std::to_string(station);
    row.serial = "KV" + std::to_string(n);
    row.port = "1-1." + std::to_string(slot);
    row.unit = *row.serial + "@" + *row.port;
    row.drive = "sdb";
    row.file = "/srv/fw/fw.bin";
    row.sha256 = std::string(64, 'a');
    row.type = "bin";
    row.startBlock = 16;
    row.endBlock = 512;
    row.family = "ST";
    row.chipId = "41:42:43:44:45";
    row.bootType = 1;
    row.versionBefore = "V1";
    row.startedAt = TimeOfDay(std::max(0LL, second - 30));
    row.finishedAt = TimeOfDay(second);
    row.blocksSent = 496;
    row.seconds = 30.0;
    const bool ok = n % 25 != 0;  // 96 % ok
    row.result = ok ? "ok" : "failed";
    row.code = ok ? "ok" : "block-refused";
    row.detail = ok ? "" : "block 17, status 00 00 01 00 11 00 00 00";
    row.message = ok ? "Finish OK!" : "Send Error!";
    return row;
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestrel_line_view URL [RUNS]\n");
        return 2;
    }
    const long long runs = argc > 2 ? std::atoll(argv[2]) : 30000;
    std::string error;
    const std::unique_ptr<UnitDatabase> opened = UnitDatabase::Open(argv[1], &error);
    if (!opened) {
        std::fprintf(stderr, "kestrel_line_view: %s\n", error.c_str());
        return 1;
    }
    TimedDatabase db(*opened);
    LineView view;
    long long written = 0;
    const auto write = [&](long long upTo) {
        for (; written < upTo && written < runs; ++written) {
            if (!db.Finish(Run(written, runs), &error) || !error.empty()) {
                std::fprintf(stderr, "kestrel_line_view: %s\n", error.c_str());
                std::exit(1);
            }
        }
    };
    std::printf("%d stations of %d slots, %lld runs over the day\n", kStations, kSlots, runs);
    for (int step = 1; step <= kSteps; ++step) {
        write(runs * step / kSteps - 2 * kRefreshes);
        const std::string now = TimeOfDay(written * 86000 / runs + 1);
        // The whole day, as the first refresh of a page (and every kWholeDayEvery) reads it.
        LineView fresh;
        fresh.Refresh(db, now);
        const double wholeMs = db.lastMs;
        const std::size_t wholeRows = db.lastRows;
        view.Refresh(db, now);
        std::vector<double> readMs, buildMs;
        std::size_t rowsRead = 0;
        for (int i = 0; i < kRefreshes; ++i) {
            write(written + 2);
            const auto begin = Clock::now();
            view.Refresh(db, TimeOfDay(written * 86000 / runs + 1));
            const double totalMs =
                std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
            readMs.push_back(db.lastMs);
            buildMs.push_back(totalMs - db.lastMs);
            rowsRead += db.lastRows;
        }
        std::printf(
            "  %6lld runs today: refresh database time p50 %.2f ms, p95 %.2f ms (%zu rows a "
            "refresh); whole day read %.1f ms (%zu rows); page build p50 %.1f ms\n",
            written, Percentile(readMs, 0.5), Percentile(readMs, 0.95), rowsRead / kRefreshes,
            wholeMs, wholeRows, Percentile(buildMs, 0.5));
        std::fflush(stdout);
    }
    return 0;
}
