#pragma once
// Where runs are recorded. A run writes its started entry before the start frame goes out and
// its final entry when it has ended, in any way; a ledger that cannot take the started entry
// keeps the unit from being flashed. Implemented by the JSON Lines file (--record) and by
// any other store of runs; a run carries all of them at once (RunLedgers).

#include <string>

struct RunRecord;

class RunLedger {
public:
    virtual ~RunLedger() = default;
    // Before the start frame; false, with the cause in *error, when the entry is not stored:
    // the start frame is then never sent.
    virtual bool Started(const RunRecord& record, std::string* error) = 0;
    // After the run, whatever its outcome (record.startedAt is null when the run ended before
    // its started entry).
    virtual bool Finished(const RunRecord& record, std::string* error) = 0;
};
