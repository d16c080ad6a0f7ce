#include "line/ChildUpgrades.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string_view>
#include <thread>

#include "ledger/RunCounts.h"
#include "ledger/UtcTime.h"
#include "line/ChildProcess.h"
#include "ledger/RunId.h"
#include "ledger/UtcTime.h"
#include "line/ChildReport.h"

struct ChildUpgrades::Unit {
    DriveCandidate drive;
    DriveIdentity identity;
    ChildProcess child;
    std::thread outReader;
    std::thread errReader;
    int openStreams = 2;
    bool interrupted = false;
    UnitResult result;
    LineClock::TimePoint sending{};  // when its start frame went out, for the time left
    // Its rows as the child reported them: the started row once its parent's ledgers took it
    // (written by the stdout reader), the final row.
    std::optional<RunRow> startedRow;
    std::optional<StartVerdict> verdict;  // what the parent answered its claim
    std::optional<RunRow> finalRow;
    bool finalWritten = false;  // by the stdout reader, as the child reported it
};

std::string SerialLabel(const DriveIdentity& identity) {
    return identity.serialBytes && !identity.serialBytes->empty() ? identity.EscapedSerial() : "-";
}

RunResult UnitResult::Result() const {
    RunEnd end;
    end.outcome = outcome;
    end.startVerdict = startVerdict;
    end.notRecorded = notRecorded || code == "not-recorded";
    end.imageChanged = code == "image-changed";
    end.noDevice = code == "no-device";
    end.childStatus = status;
    end.childReported = reported;
    end.childCode = code;
    end.childDetail = detail;
    return DecideRun(end);
}

std::string UnitResult::Why() const {
    const RunResult result = Result();
    // A run cut short by its process keeps no message of its own that could explain it.
    if (message.empty() || result.kind == RunResult::Kind::Cancelled ||
        std::string_view(result.code) == "killed" ||
        std::string_view(result.code) == "child-failed")
        return result.cause;
    return message;
}

RunRow UnitResult::Row(const std::string& station) const {
    // The row its parent wrote is the run's one row.
    if (written) return *written;
    const RunResult result = Result();
    RunRow row;
    row.run = run;
    row.station = station;
    row.unit = identity.Unit();
    if (identity.serialBytes) row.serial = identity.EscapedSerial();
    row.port = identity.port;
    row.drive = DriveShortName(drive);
    row.duplicateSerial = duplicateSerial;
    row.finishedAt = UtcNowText();
    if (started) row.startedAt = row.finishedAt;
    row.startBlock = startBlock;
    row.endBlock = endBlock;
    row.blocksSent = blocks;
    row.seconds = seconds;
    row.result = result.Name();
    row.code = result.Counts() ? result.code : kLeftAloneCode;
    row.detail = result.detail;
    row.message = Why();
    return row;
}

ChildUpgrades::ChildUpgrades(std::vector<std::string> upgradeArgs, bool showProgress,
                             LineClock& clock, std::ostream& out, Ledgers ledgers)
    : m_args(std::move(upgradeArgs)),
      m_showProgress(showProgress),
      m_clock(clock),
      m_out(out),
      m_ledgers(std::move(ledgers)) {}

ChildUpgrades::~ChildUpgrades() {
    InterruptAll();
    while (!m_units.empty()) Poll(std::chrono::milliseconds(50));
}

bool ChildUpgrades::Start(const DriveCandidate& drive, const DriveIdentity& identity,
                          const std::string& unitName, bool duplicateSerial, std::string* error) {
    auto unit = std::make_unique<Unit>();
    unit->drive = drive;
    unit->identity = identity;
    unit->result.drive = drive;
    unit->result.identity = identity;
    unit->result.unit = unitName;
    unit->result.duplicateSerial = duplicateSerial;
    std::vector<std::string> args{ChildProcess::CurrentExecutable(),
                                  "upgrade",
                                  "--device",
                                  DriveShortName(drive),
                                  "--yes",
                                  "--report"};
    if (duplicateSerial) args.push_back("--duplicate-serial");
    args.insert(args.end(), m_args.begin(), m_args.end());
    if (!unit->child.StartSelf(args, error)) return false;
    Unit* raw = unit.get();
    raw->outReader = std::thread([this, raw] { Reader(raw, false); });
    raw->errReader = std::thread([this, raw] { Reader(raw, true); });
    m_units.push_back(std::move(unit));
    EraseBoard();
    DrawBoard();
    return true;
}

void ChildUpgrades::Reader(Unit* unit, bool err) {
    const ChildProcess::Stream stream = err ? ChildProcess::Stream::Err : ChildProcess::Stream::Out;
    std::string pending;
    char buffer[4096];
    for (;;) {
        const std::size_t n = unit->child.Read(stream, buffer, sizeof buffer);
        if (n == 0) break;
        pending.append(buffer, n);
        std::size_t newline = 0;
        while ((newline = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            // A claim is answered at once, here: the child waits for it before its start frame.
            if (!err && Claim(unit, line)) continue;
            std::lock_guard lock(m_mutex);
            m_events.push_back({unit, err, false, std::move(line)});
        }
    }
    std::lock_guard lock(m_mutex);
    if (!pending.empty()) m_events.push_back({unit, err, false, pending});
    m_events.push_back({unit, err, true, {}});
}

bool ChildUpgrades::Claim(Unit* unit, const std::string& line) {
    if (line.rfind("@final ", 0) == 0) return Final(unit, line);
    if (line.rfind("@claim ", 0) != 0) return false;
    std::optional<ChildReport> report = ChildReport::Parse(line);
    StartVerdict verdict = StartVerdict::Failed;
    std::string error = "the run's started row could not be read";
    if (report && report->kind == ChildReport::Kind::Claim) {
        RunRow& row = report->row;
        // What the parent knows better than the child's record line says.
        row.duplicateSerial = unit->result.duplicateSerial;
        row.byAttachment = m_ledgers.byAttachment;
        error.clear();
        verdict = m_ledgers.runs ? m_ledgers.runs->Started(row, &error) : StartVerdict::Recorded;
        std::lock_guard lock(m_mutex);
        unit->verdict = verdict;
        if (verdict == StartVerdict::Recorded) unit->startedRow = row;
    }
    // A child gone meanwhile finds no answer; its final row is written when it has ended.
    unit->child.Write(ChildReport::VerdictLine(verdict, error));
    return true;
}

// The child's final row, written at once (the child waits for the answer before it ends) with
// what the parent knows better.
bool ChildUpgrades::Final(Unit* unit, const std::string& line) {
    std::optional<ChildReport> report = ChildReport::Parse(line);
    if (!report || report->kind != ChildReport::Kind::Final) {
        unit->child.Write(ChildReport::VerdictLine(StartVerdict::Failed,
                                                   "the run's final row could not be read"));
        return true;
    }
    RunRow& row = report->row;
    row.duplicateSerial = unit->result.duplicateSerial;
    row.byAttachment = m_ledgers.byAttachment;
    std::string error;
    const bool written = !m_ledgers.runs || m_ledgers.runs->Finished(row, &error);
    {
        std::lock_guard lock(m_mutex);
        unit->finalRow = row;
        unit->finalWritten = written;
    }
    unit->child.Write(
        ChildReport::VerdictLine(written ? StartVerdict::Recorded : StartVerdict::Failed, error));
    return true;
}

void ChildUpgrades::Take(const Event& event) {
    Unit& unit = *event.unit;
    if (event.end) {
        --unit.openStreams;
        return;
    }
    const std::string& line = event.line;
    if (event.err) {
        if (line.rfind("kestrel-cli:", 0) == 0) unit.result.errors.push_back(line);
        // A child's request trace (--verbose) goes on at once, named by its drive, so that a
        // failure has its cause beside it.
        if (line.rfind("trace:", 0) == 0) {
            EraseBoard();
            std::cerr << DriveShortName(unit.drive) << "  " << line << std::endl;
            DrawBoard();
        }
        return;
    }
    const std::optional<ChildReport> report = ChildReport::Parse(line);
    if (!report) return;
    UnitResult& result = unit.result;
    switch (report->kind) {
        case ChildReport::Kind::Run:
            result.run = report->message;
            break;
        case ChildReport::Kind::Started:
            unit.sending = m_clock.Now();
            result.started = true;
            result.startBlock = report->startBlock;
            result.endBlock = report->endBlock;
            result.versionBefore = report->version;
            result.total =
                static_cast<int>(report->endBlock) - static_cast<int>(report->startBlock);
            if (m_onReport) m_onReport(result);
            break;
        case ChildReport::Kind::Message:
            result.message = report->message;
            break;
        case ChildReport::Kind::Progress:
            result.done = report->done;
            result.total = report->total;
            if (m_onReport) m_onReport(result);
            break;
        case ChildReport::Kind::Result:
            result.code = report->message;
            result.detail = report->detail;
            break;
        case ChildReport::Kind::Final:
        case ChildReport::Kind::Claim:
        case ChildReport::Kind::Verdict:
            break;
        case ChildReport::Kind::Ended:
            unit.result.reported = true;
            unit.result.outcome = report->outcome;
            unit.result.startVerdict = report->startVerdict;
            unit.result.blocks = report->blocks;
            unit.result.seconds = report->seconds;
            break;
    }
}

std::vector<UnitResult> ChildUpgrades::Poll(std::chrono::milliseconds wait) {
    m_clock.SleepUntil(m_clock.Now() + wait);
    std::deque<Event> events;
    {
        std::lock_guard lock(m_mutex);
        events.swap(m_events);
    }
    for (const Event& event : events) Take(event);

    std::vector<UnitResult> ended;
    for (auto it = m_units.begin(); it != m_units.end();) {
        Unit& unit = **it;
        if (unit.openStreams > 0) {
            ++it;
            continue;
        }
        unit.outReader.join();
        unit.errReader.join();
        unit.result.status = unit.child.Wait();
        WriteFinal(unit);
        ended.push_back(unit.result);
        it = m_units.erase(it);
    }
    if (!events.empty() || !ended.empty()) {
        EraseBoard();
        DrawBoard();
    }
    return ended;
}

// The run's final row, written by the parent: the child's own, with what only the process
// boundary knows (killed, ended without a report) put in; the started row, or what the parent
// knows of the unit, for a child that reported none.
void ChildUpgrades::WriteFinal(Unit& unit) {
    UnitResult& result = unit.result;
    // The parent's own answer to the claim stands, whatever the child said or did not say.
    if (unit.verdict && *unit.verdict != StartVerdict::Recorded)
        result.startVerdict = *unit.verdict;
    RunResult decided = result.Result();
    if (!decided.Counts()) return;
    RunRow row = unit.finalRow ? *unit.finalRow : unit.startedRow.value_or(m_ledgers.seed);
    if (row.run.empty()) row.run = result.run.empty() ? NewRunId() : result.run;
    if (!unit.finalRow && !unit.startedRow) {
        row.drive = DriveShortName(unit.drive);
        SetUnit(row, unit.identity);
    }
    row.duplicateSerial = result.duplicateSerial;
    row.byAttachment = m_ledgers.byAttachment;
    const auto decide = [&row, &result](const RunResult& outcome) {
        row.result = outcome.Name();
        row.code = outcome.code;
        row.detail = outcome.detail;
        if (!row.finishedAt) row.finishedAt = UtcNowText();
        row.message = result.Why();
    };
    if (!unit.finalRow || row.code != decided.code) {
        row.blocksSent = std::max(row.blocksSent, result.done);
        decide(decided);
    } else if (unit.finalWritten) {
        result.written = row;
        return;
    }
    std::string error;
    if (m_ledgers.runs && !m_ledgers.runs->Finished(row, &error)) {
        result.errors.push_back("kestrel-cli: cannot record the run: " + error);
        result.notRecorded = true;
        decide(result.Result());
    }
    result.written = row;
}

void ChildUpgrades::InterruptAll() {
    for (auto& unit : m_units) {
        if (unit->interrupted) continue;
        unit->interrupted = true;
        unit->child.Interrupt();
    }
}

bool ChildUpgrades::IsRunning(const std::string& unit) const {
    for (const auto& running : m_units)
        if (running->result.unit == unit) return true;
    return false;
}

void ChildUpgrades::Print(const std::string& line) {
    EraseBoard();
    m_out << line << std::endl;
    DrawBoard();
}

void ChildUpgrades::EraseBoard() {
    if (m_drawn == 0) return;
    // Up to the first progress line, then clear everything below.
    std::cerr << "\x1b[" << m_drawn << "A\r\x1b[J" << std::flush;
    m_drawn = 0;
}

void ChildUpgrades::DrawBoard() {
    if (!m_showProgress) return;
    constexpr int kWidth = 30;
    const auto now = m_clock.Now();
    for (const auto& unit : m_units) {
        const int done = unit->result.done, total = unit->result.total;
        const int filled = total > 0 ? done * kWidth / total : 0;
        const int percent = total > 0 ? done * 100 / total : 0;
        std::cerr << DriveShortName(unit->drive) << "  " << SerialLabel(unit->identity) << "  ["
                  << std::string(static_cast<std::size_t>(filled), '#')
                  << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] " << done
                  << '/' << total << " blocks " << percent << "%";
        // The time left at the pace so far.
        if (done > 0 && total > done && unit->sending != LineClock::TimePoint{}) {
            const double elapsed = std::chrono::duration<double>(now - unit->sending).count();
            std::cerr << "  " << static_cast<long>(elapsed * (total - done) / done + 0.5)
                      << " s left";
        }
        std::cerr << "\n";
        ++m_drawn;
    }
    std::cerr << std::flush;
}
