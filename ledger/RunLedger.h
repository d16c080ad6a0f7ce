#pragma once
// Where runs are recorded. A run writes its started entry before the start frame goes out and
// its final entry when it has ended, in any way; a ledger that cannot take the started entry
// keeps the unit from being flashed. Implemented by the JSON Lines file (--record) and by
// any other store of runs; a run carries all of them at once (RunLedgers).

#include <optional>
#include <string>

struct RunRow;

// What a ledger made of a run's started entry. Anything but Recorded keeps the start frame back.
enum class StartVerdict {
    Recorded,  // stored: the run may go on
    Deferred,  // not now: another station holds the unit, or the store does not answer; the
               // unit was left alone and may be tried again later
    Refused,   // never with this image: the unit is done, or held back after its failures
    Failed,    // the entry could not be stored (a full disk, a short write): the run failed
};
// "recorded", "deferred", "refused", "failed".
const char* StartVerdictName(StartVerdict verdict);
std::optional<StartVerdict> StartVerdictFromName(const std::string& name);

class RunLedger {
public:
    virtual ~RunLedger() = default;
    // Before the start frame; anything but Recorded comes with its cause in *error, and the
    // start frame is then never sent.
    virtual StartVerdict Started(const RunRow& row, std::string* error) = 0;
    // After the run, whatever its outcome (row.startedAt is null when the run ended before
    // its started entry).
    virtual bool Finished(const RunRow& row, std::string* error) = 0;
};
