// A line of N stations on one unit database, through the product's own ledger code: each station
// is a thread with its own connection (as each station PC has its own), claiming a unit, writing
// its started row, and finishing the run (UnitDatabase::ClaimAndStart / Finish), with no device
// time in between, so the database is the only thing measured. Some units are "moved" between
// stations mid-run: another station tries to claim a unit while its first station still holds it
// and must be told "being upgraded".
//
//   kestrel_line_load URL STATIONS SECONDS
//
// Prints runs per second, claim latency (median, 95th, 99th percentile, max) and the invariants
// checked at the end: no unit claimed by two stations at once, every claimed run has its final
// row in the database, no row without a result.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ledger/RunHistory.h"
#include "ledger/UnitDatabase.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Hex32(unsigned long long high, unsigned long long low) {
    char text[40];
    std::snprintf(text, sizeof text, "%016llx%016llx", high, low);
    return text;
}

RunRow Run(int station, long long unit, long long sequence) {
    RunRow row;
    row.run = Hex32(static_cast<unsigned long long>(station) + 1,
                    static_cast<unsigned long long>(sequence));
    row.station = "st" + std::to_string(station);
    row.serial = "KV" + std::to_string(unit);
    row.port = "1-1." + std::to_string(sequence % 24);
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
    row.startedAt = "2026-12-08T05:00:00.000Z";
    return row;
}

struct Shared {
    std::mutex mutex;
    std::set<std::string> holding;  // unit keys claimed and not yet finished
    std::vector<double> latencies;  // claim (ClaimAndStart) milliseconds
    std::atomic<long long> runs{0}, busy{0}, errors{0}, doubleClaims{0}, unfinished{0}, late{0};
    std::atomic<long long> nextUnit{0};
    std::atomic<bool> stop{false};
};

void Station(const std::string& url, int index, Shared& shared) {
    std::string error;
    std::unique_ptr<UnitDatabase> db = UnitDatabase::Open(url, &error);
    if (!db) {
        std::fprintf(stderr, "station %d: %s\n", index, error.c_str());
        ++shared.errors;
        return;
    }
    std::vector<double> latencies;
    long long sequence = 0;
    while (!shared.stop) {
        // One run in ten goes after a unit that was just handed out to another station: the
        // unit moved to this fixture while the other station may still flash it.
        const long long fresh = shared.nextUnit++;
        const long long unit = (sequence % 10 == 9 && fresh > 0) ? fresh - 1 : fresh;
        RunRow row = Run(index, unit, sequence++);
        const auto begin = Clock::now();
        const ClaimVerdict verdict = db->ClaimAndStart(row, {});
        latencies.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        const std::string key = UnitKey(row);
        if (verdict.outcome == ClaimVerdict::Outcome::Busy) {
            ++shared.busy;
            continue;
        }
        if (!verdict.Allowed()) {
            if (verdict.outcome == ClaimVerdict::Outcome::Error) {
                // As a station does: no unit starts; the connection is made anew.
                ++shared.errors;
                db = UnitDatabase::Open(url, &error);
                if (!db) {
                    std::fprintf(stderr, "station %d: %s\n", index, error.c_str());
                    return;
                }
            }
            continue;
        }
        {
            std::lock_guard lock(shared.mutex);
            if (!shared.holding.insert(key).second) ++shared.doubleClaims;
        }
        row.finishedAt = "2026-12-08T05:00:08.000Z";
        row.result = "ok";
        row.message = "Finish OK!";
        row.blocksSent = 496;
        row.seconds = 8.0;
        {
            // Given up before the final row is written, so a station that sees the unit free
            // in the database also sees it free here.
            std::lock_guard lock(shared.mutex);
            shared.holding.erase(key);
        }
        std::string note;
        if (!db->Finish(row, &note)) {
            std::fprintf(stderr, "station %d: %s\n", index, note.c_str());
            ++shared.unfinished;
        } else if (!note.empty()) {
            ++shared.late;  // kept in the unsent rows; the next connection writes it
        }
        ++shared.runs;
    }
    std::lock_guard lock(shared.mutex);
    shared.latencies.insert(shared.latencies.end(), latencies.begin(), latencies.end());
}

double Percentile(std::vector<double>& values, double p) {
    if (values.empty()) return 0;
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
    return values[at];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: kestrel_line_load URL STATIONS SECONDS\n");
        return 2;
    }
    const std::string url = argv[1];
    const int stations = std::atoi(argv[2]);
    const int seconds = std::atoi(argv[3]);
    {
        std::string error;
        if (!UnitDatabase::Open(url, &error)) {  // the schema, made once before the clock runs
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    Shared shared;
    std::vector<std::thread> threads;
    const auto begin = Clock::now();
    for (int i = 0; i < stations; ++i)
        threads.emplace_back(Station, std::cref(url), i, std::ref(shared));
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    shared.stop = true;
    for (std::thread& thread : threads) thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();

    // What the database holds: every run claimed has its final row, none is left without one.
    std::string error;
    auto db = UnitDatabase::Open(url, &error);
    RunHistory history;
    if (!db || !db->ReadRuns(history, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    long long rows = 0, open = 0;
    for (const RunRow& row : history.Rows()) {
        ++rows;
        if (row.Interrupted() || row.result != "ok") ++open;
    }
    const bool held =
        shared.doubleClaims == 0 && shared.unfinished == 0 && open == 0 && rows == shared.runs;
    std::printf(
        "%2d stations: %7.0f runs/s  claim ms p50 %5.2f p95 %5.2f p99 %5.2f max %6.1f  "
        "(%lld runs, %lld told busy, %lld database errors, %lld final rows sent late)  invariants "
        "%s (twice at once %lld, final rows %lld of %lld, without result %lld)\n",
        stations, static_cast<double>(shared.runs) / elapsed, Percentile(shared.latencies, 0.5),
        Percentile(shared.latencies, 0.95), Percentile(shared.latencies, 0.99),
        shared.latencies.empty()
            ? 0.0
            : *std::max_element(shared.latencies.begin(), shared.latencies.end()),
        static_cast<long long>(shared.runs), static_cast<long long>(shared.busy),
        static_cast<long long>(shared.errors), static_cast<long long>(shared.late),
        held ? "held" : "BROKEN", static_cast<long long>(shared.doubleClaims), rows,
        static_cast<long long>(shared.runs), open);
    return held ? 0 : 1;
}
