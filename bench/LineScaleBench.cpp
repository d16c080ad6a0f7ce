// One simulated station of a line at scale (bench/line-scale.sh starts fifty of them at once):
// a process with SLOTS runs going at once through the station's own ledger path, the one a
// station and its children use: the station's StationLedger and its one DatabaseLedger (one
// connection whatever the number of slots), the record file, RunLedgers; each slot's thread
// stands in for a child's reader thread, claiming its unit (started row, claim) and, after a
// timed stand-in for the device's protocol, writing its final row.
//
//   kestrel_line_scale URL STATION SLOTS RUNS-PER-SLOT RUN-MS RECORD
//
// Prints one line: "runs=N claimed=N notclaimed=N finished=N p50=MS p95=MS p99=MS max=MS
// seconds=S", the claim latencies as measured around RunLedgers::Started.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ledger/JsonLinesLedger.h"
#include "ledger/RunLedgers.h"
#include "ledger/StationLedger.h"

namespace {

using Clock = std::chrono::steady_clock;

RunRow Unit(const std::string& station, int slot, int sequence) {
    RunRow row;
    char run[40];
    std::snprintf(run, sizeof run, "%016zx%08x%08x", std::hash<std::string>{}(station),
                  static_cast<unsigned>(slot), static_cast<unsigned>(sequence));
    row.run = run;
    row.station = station;
    row.serial = station + "-" + std::to_string(slot) + "-" + std::to_string(sequence);
    row.port = "1-1." + std::to_string(slot);
    row.unit = *row.serial + "@" + *row.port;
    row.drive = "sd" + std::string(1, static_cast<char>('b' + slot % 24));
    row.file = "/srv/fw/fw.bin";
    row.sha256 = std::string(64, 'a');
    row.type = "bin";
    row.startBlock = 16;
    row.endBlock = 512;
    row.family = "ST";
    row.chipId = "41:42:43:44:45";
    row.bootType = 1;
    row.versionBefore = "V1";
    return row;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s URL STATION SLOTS RUNS-PER-SLOT RUN-MS RECORD\n", argv[0]);
        return 2;
    }
    const std::string url = argv[1], station = argv[2];
    const int slots = std::atoi(argv[3]), perSlot = std::atoi(argv[4]);
    const auto runTime = std::chrono::milliseconds(std::atoi(argv[5]));
    StationLedger ledger(url, std::string(64, 'a'), {});
    RunLedgers ledgers;
    ledgers.Add(ledger.Runs());
    ledgers.Add(std::make_shared<JsonLinesLedger>(argv[6]));
    // The station's own look before its first unit, as Station does.
    if (!ledger.Available(
            [](bool, const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }))
        return 1;

    std::mutex mutex;
    std::vector<double> latencies;
    std::atomic<int> claimed{0}, refused{0}, finished{0};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int slot = 0; slot < slots; ++slot) {
        threads.emplace_back([&, slot] {
            for (int sequence = 0; sequence < perSlot; ++sequence) {
                RunRow row = Unit(station, slot, sequence);
                row.startedAt = "2026-12-08T05:00:00.000Z";
                std::string error;
                const auto before = Clock::now();
                const StartVerdict verdict = ledgers.Started(row, &error);
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - before).count();
                {
                    std::lock_guard lock(mutex);
                    latencies.push_back(ms);
                }
                if (verdict != StartVerdict::Recorded) {
                    ++refused;
                    std::fprintf(stderr, "%s slot %d: %s\n", station.c_str(), slot, error.c_str());
                    continue;
                }
                ++claimed;
                std::this_thread::sleep_for(runTime);  // the device's protocol
                row.finishedAt = "2026-12-08T05:00:10.000Z";
                row.blocksSent = 496;
                row.seconds = 7.5;
                row.result = "ok";
                row.code = "ok";
                row.message = "Finish OK!";
                if (ledgers.Finished(row, &error))
                    ++finished;
                else
                    std::fprintf(stderr, "%s slot %d: %s\n", station.c_str(), slot, error.c_str());
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf(
        "runs=%d claimed=%d notclaimed=%d finished=%d p50=%.2f p95=%.2f p99=%.2f "
        "max=%.2f seconds=%.2f\n",
        slots * perSlot, claimed.load(), refused.load(), finished.load(),
        Percentile(latencies, 0.50), Percentile(latencies, 0.95), Percentile(latencies, 0.99),
        Percentile(latencies, 1.0), seconds);
    return refused == 0 && finished == claimed ? 0 : 1;
}
