#include "line/UnitRun.h"

#include <iostream>

#include "device/DriveDiscovery.h"
#include "device/UpgradeProtocol.h"
#include "image/FirmwareImage.h"
#include "ledger/DatabaseLedger.h"
#include "ledger/RunId.h"
#include "ledger/UtcTime.h"
#include "line/ApprovedImage.h"
#include "line/ChildReport.h"

UnitRun::UnitRun(Setup setup, RunLedgers& ledgers, LineEvents& events,
                 std::function<void(const std::string&)> say)
    : m_setup(std::move(setup)), m_ledgers(ledgers), m_events(events), m_say(std::move(say)) {
    m_row.run = NewRunId();
    m_row.station = m_setup.station;
    m_row.lot = m_setup.lot;
    m_row.person = m_setup.person;
    m_row.byAttachment = m_setup.byAttachment;
    m_row.duplicateSerial = m_setup.duplicateSerial;
    m_row.type = m_setup.type;
    if (m_setup.report) std::cout << ChildReport::RunLine(m_row.run) << std::flush;
}

void UnitRun::SetImage(const std::string& file, const std::string& sha256) {
    m_row.file = file;
    m_row.sha256 = sha256;
}

// The unit and what it reported, as far as the run got: the drive found (else the one named),
// the image, the device's version before.
void UnitRun::FillUnit() {
    const std::optional<DriveCandidate>& found = LastFoundDrive();
    if (found) {
        m_row.drive = DriveShortName(*found);
        SetUnit(m_row, ReadDriveIdentity(*found));
    } else if (m_setup.device) {
        // Not the device, or gone: the drive as named, and what the OS knows of it.
        m_row.drive = *m_setup.device;
        SetUnit(m_row, {});
        for (const DriveCandidate& drive : EnumerateDrives()) {
            if (!DriveNamed(drive, *m_setup.device)) continue;
            m_row.drive = DriveShortName(drive);
            SetUnit(m_row, ReadDriveIdentity(drive));
        }
    }
    m_row.family = ImageFamilyText();
    m_row.chipId = ImageChipIdText();
    m_row.bootType = ImageBootType();
    m_row.versionBefore = LastReportedVersion();
    m_row.startBlock = g_image.startBlock;
    m_row.endBlock = g_image.endBlock;
}

LineEvents::Unit UnitRun::EventUnit() const {
    return {.unit = m_row.unit, .serial = m_row.serial, .port = m_row.port, .drive = m_row.drive};
}

bool UnitRun::BeforeStartFrame() {
    FillUnit();
    if (!m_ledgers.Empty()) {
        m_row.startedAt = UtcNowText();
        std::string error;
        m_verdict = m_ledgers.Started(m_row, &error);
        if (m_verdict != StartVerdict::Recorded) {
            m_row.startedAt.reset();
            if (m_verdict == StartVerdict::Failed) {
                m_row.message = "cannot record the run: " + error;
                m_say("kestrel-cli: " + m_row.message + "; the unit was not flashed");
            } else {
                m_leftAloneBecause = error;
                m_say("kestrel-cli: " + error + "; the unit was left alone");
            }
            return false;
        }
    }
    if (m_setup.report)
        std::cout << ChildReport::StartedLine(m_row.startBlock, m_row.endBlock,
                                              m_row.versionBefore.value_or(""))
                  << std::flush;
    m_events.Started(m_row.run, EventUnit(), m_row.startBlock, m_row.endBlock, m_row.versionBefore);
    m_events.Progress(m_row.run, EventUnit(), 0,
                      static_cast<int>(m_row.endBlock - m_row.startBlock), 0.0, true);
    return true;
}

void UnitRun::Progress(int done, int total, double seconds) {
    m_events.Progress(m_row.run, EventUnit(), done, total, seconds);
}

// Sends the image to the device; true when stopRequested cancelled the run.
bool UnitRun::Upgrade(DialogServices& dlg, RunDialog& console,
                      const std::function<bool()>& stopRequested) {
    const auto cancel = [&] {
        m_say("Interrupted: cancelling the upgrade");
        CancelUpgrade(dlg);
        return true;
    };
    StartUpgrade(dlg);
    m_started = UpgradeStartAccepted(dlg);
    if (!m_started) return stopRequested() && cancel();
    console.RunBlockTimer([&dlg] { SendNextBlock(dlg); }, stopRequested);
    // Only an interrupt leaves the loop with blocks still due.
    return console.TimerArmed() && cancel();
}

RunResult UnitRun::Run(DialogServices& dlg, RunDialog& console,
                       const std::function<bool()>& stopRequested,
                       const std::optional<std::string>& imageChanged) {
    RunEnd end;
    if (!imageChanged) {
        end.interrupted = Upgrade(dlg, console, stopRequested);
        end.outcome = LastUpgradeOutcome();
        end.noDevice = LastUpgradeFoundNoDevice();
        end.failure = LastUpgradeFailure();
    }
    end.imageChanged = imageChanged.has_value();
    end.startVerdict = m_verdict;
    RunResult result = DecideRun(end);
    // A unit left alone (held elsewhere, done, held back) had no run here: nothing to record.
    if (result.Counts()) {
        Finish(console, end, result, imageChanged);
    } else if (const DatabaseLedger* database = m_ledgers.Database()) {
        m_events.Skipped(EventUnit(), database->LeftAloneReason(m_row.run), m_leftAloneBecause);
    }
    if (m_setup.report)
        std::cout << ChildReport::ResultLine(result.code, result.detail)
                  << ChildReport::EndedLine(LastUpgradeOutcome(), console.BlocksStepped(),
                                            console.RunSeconds(), m_verdict)
                  << std::flush;
    return result;
}

void UnitRun::Finish(RunDialog& console, RunEnd end, RunResult& result,
                     const std::optional<std::string>& imageChanged) {
    FillUnit();
    m_row.blocksSent = console.BlocksStepped();
    m_row.seconds = console.RunSeconds();
    m_row.result = result.Name();
    m_row.code = result.code;
    m_row.detail = result.detail;
    // How the run ended, for its final row: the last message it showed, else its cause in
    // words; a run withheld for its record keeps the reason it said.
    if (m_verdict != StartVerdict::Failed)
        m_row.message = console.Messages().empty() ? result.cause : console.Messages().back();
    if (imageChanged) m_row.message = *imageChanged + "; the file changed after it was approved";
    m_row.finishedAt = UtcNowText();
    std::string error;
    if (!m_ledgers.Empty() && !m_ledgers.Finished(m_row, &error)) {
        console.ReleaseMessages();
        // Said once: a started entry that failed has said it already.
        if (m_verdict == StartVerdict::Recorded)
            m_say("kestrel-cli: cannot record the run: " + error);
        end.notRecorded = true;
        result = DecideRun(end);
        m_row.result = result.Name();
        m_row.code = result.code;
        m_row.detail = result.detail;
    }
    m_events.Finished(m_row);
}
