#include "cli/ChildUpgrades.h"

#include <cstdio>
#include <iostream>
#include <thread>

#include "cli/ChildProcess.h"
#include "cli/ChildReport.h"
#include "cli/CliCommon.h"
#include "cli/ConsoleInterrupt.h"

struct ChildUpgrades::Unit {
    DriveCandidate drive;
    DriveIdentity identity;
    ChildProcess child;
    std::thread outReader;
    std::thread errReader;
    int openStreams = 2;
    bool interrupted = false;
    int done = 0;
    int total = 0;
    UnitResult result;
};

std::string SerialLabel(const DriveIdentity& identity) {
    return identity.serialBytes && !identity.serialBytes->empty() ? identity.EscapedSerial() : "-";
}

std::string UnitResult::Line() const {
    // A cancelled run shows no message of its own; SIGHUP, SIGINT and SIGTERM end it with 129,
    // 130 and 143.
    constexpr int kHungUp = 129, kInterrupted = 130, kTerminated = 143;
    std::string text = message;
    if (outcome == UpgradeOutcome::Cancelled || status == kHungUp || status == kInterrupted ||
        status == kTerminated)
        text = "cancelled";
    else if (text.empty())
        text = outcome == UpgradeOutcome::StoppedSilently || status == kExitDeclined
                   ? "stopped without a message"
                   : "ended with status " + std::to_string(status);
    char figures[64];
    std::snprintf(figures, sizeof figures, "  %d blocks  %.3f s", blocks, seconds);
    return DriveShortName(drive) + "  " + SerialLabel(identity) + "  " + text + figures +
           (duplicateSerial ? "  duplicate serial" : "");
}

ChildUpgrades::ChildUpgrades(std::vector<std::string> upgradeArgs, bool showProgress)
    : m_args(std::move(upgradeArgs)), m_showProgress(showProgress) {}

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
            std::lock_guard lock(m_mutex);
            m_events.push_back({unit, err, false, std::move(line)});
        }
    }
    std::lock_guard lock(m_mutex);
    if (!pending.empty()) m_events.push_back({unit, err, false, pending});
    m_events.push_back({unit, err, true, {}});
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
        return;
    }
    const std::optional<ChildReport> report = ChildReport::Parse(line);
    if (!report) return;
    switch (report->kind) {
        case ChildReport::Kind::Message:
            unit.result.message = report->message;
            break;
        case ChildReport::Kind::Progress:
            unit.done = report->done;
            unit.total = report->total;
            break;
        case ChildReport::Kind::Ended:
            unit.result.outcome = report->outcome;
            unit.result.startVerdict = report->startVerdict;
            unit.result.blocks = report->blocks;
            unit.result.seconds = report->seconds;
            break;
    }
}

std::vector<UnitResult> ChildUpgrades::Poll(std::chrono::milliseconds wait) {
    // An interrupt already taken ends every sleep at once; the children still need their time.
    if (ConsoleInterrupt::Requested() ||
        !ConsoleInterrupt::SleepUntil(std::chrono::steady_clock::now() + wait))
        std::this_thread::sleep_for(wait);
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
        ended.push_back(unit.result);
        it = m_units.erase(it);
    }
    if (!events.empty() || !ended.empty()) {
        EraseBoard();
        for (const UnitResult& result : ended) {
            std::cout << result.Line() << '\n';
            for (const std::string& error : result.errors) std::cout << "  " << error << '\n';
        }
        std::cout << std::flush;
        DrawBoard();
    }
    return ended;
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
    std::cout << line << std::endl;
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
    for (const auto& unit : m_units) {
        const int filled = unit->total > 0 ? unit->done * kWidth / unit->total : 0;
        const int percent = unit->total > 0 ? unit->done * 100 / unit->total : 0;
        std::cerr << DriveShortName(unit->drive) << "  ["
                  << std::string(static_cast<std::size_t>(filled), '#')
                  << std::string(static_cast<std::size_t>(kWidth - filled), '.') << "] "
                  << unit->done << '/' << unit->total << " blocks " << percent << "%\n";
        ++m_drawn;
    }
    std::cerr << std::flush;
}
