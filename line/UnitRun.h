#pragma once
// One run of one unit, from its claim to its final row: the unit's row is filled as the run
// learns it (run id, station, unit, image, the device's version), its claim and started row go
// to every ledger before the start frame (a unit that could not be recorded is not flashed),
// the protocol runs, DecideRun decides the result once, and the final row goes to every
// ledger. Its output is one RunRow: the record lines, database rows, the finished event and a
// parent's report are all written from that row.
//
// upgrade alone gives it its own ledgers (the record file, the unit database); a child of a
// station or of upgrade --all gives it a ParentLedger, so that its parent, the one owner of
// the database and the record file, writes the rows.

#include <functional>
#include <optional>
#include <string>

#include "ledger/RunLedgers.h"
#include "ledger/RunRow.h"
#include "line/LineEvents.h"
#include "line/RunDialog.h"
#include "services/DialogServices.h"
#include "line/RunResult.h"

class UnitRun {
public:
    struct Setup {
        std::string station;
        std::optional<std::string> lot;
        std::optional<std::string> person;
        bool byAttachment = false;
        bool duplicateSerial = false;
        std::optional<std::string> device;  // --device as named, for a run that found none
        std::string type;                   // "bin" or "hex"
        bool report = false;                // a child: its parent reads its report on stdout
    };
    // say: a line for the person at the console ("cannot record the run: ...").
    UnitRun(Setup setup, RunLedgers& ledgers, LineEvents& events,
            std::function<void(const std::string&)> say);

    const RunRow& Row() const { return m_row; }
    StartVerdict Verdict() const { return m_verdict; }
    // The image as loaded and approved.
    void SetImage(const std::string& file, const std::string& sha256);

    // Before the start frame (the dialog's BeforeStartFrame): the unit's row, its claim and
    // started row in every ledger; true when the start frame may go out.
    bool BeforeStartFrame();
    // At every block the device accepted.
    void Progress(int done, int total, double seconds);

    // The protocol from StartUpgrade to the last block; stopRequested ends it the way Cancel
    // does (cancelled is then said first). imageChanged: the file no longer had its approved
    // hash, the run is refused before any device is touched. Then the result, decided once,
    // and the final row written to every ledger.
    RunResult Run(DialogServices& dlg, RunDialog& console,
                  const std::function<bool()>& stopRequested,
                  const std::optional<std::string>& imageChanged);
    // Whether the start frame went out.
    bool Started() const { return m_started; }

private:
    void FillUnit();
    bool Upgrade(DialogServices& dlg, RunDialog& console,
                 const std::function<bool()>& stopRequested);
    // The final row of a run that counts, written to every ledger, and its finished event.
    void Finish(RunDialog& console, RunEnd end, RunResult& result,
                const std::optional<std::string>& imageChanged);
    LineEvents::Unit EventUnit() const;

    Setup m_setup;
    RunLedgers& m_ledgers;
    LineEvents& m_events;
    std::function<void(const std::string&)> m_say;
    RunRow m_row;
    StartVerdict m_verdict = StartVerdict::Recorded;
    std::string m_leftAloneBecause;
    bool m_started = false;
};
