#include "line/ChildReport.h"

#include <cstdio>
#include <string_view>

#include "ledger/RunHistory.h"

namespace {

constexpr char kMessage[] = "@message ";
constexpr char kRun[] = "@run ";
constexpr char kResult[] = "@result ";
constexpr char kClaim[] = "@claim ";
constexpr char kFinal[] = "@final ";
constexpr char kVerdict[] = "@verdict ";

// A line break in a cause would end the line early.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

bool Word(const std::string& text) {
    return !text.empty() && text.find_first_of(" \t") == std::string::npos;
}

}  // namespace

std::string ChildReport::MessageLine(const std::string& text) {
    return kMessage + text + "\n";
}

std::string ChildReport::RunLine(const std::string& run) {
    return kRun + run + "\n";
}

std::string ChildReport::StartedLine(unsigned startBlock, unsigned endBlock,
                                     const std::string& version) {
    return "@started " + std::to_string(startBlock) + " " + std::to_string(endBlock) + " " +
           version + "\n";
}

std::string ChildReport::ResultLine(const std::string& code, const std::string& detail) {
    // A detail is one line of its own making (see RunResult); a line break would end the report.
    std::string line = kResult + code;
    if (!detail.empty()) line += " " + detail.substr(0, detail.find_first_of("\r\n"));
    return line + "\n";
}

std::string ChildReport::ProgressLine(int done, int total) {
    return "@progress " + std::to_string(done) + " " + std::to_string(total) + "\n";
}

std::string ChildReport::EndedLine(UpgradeOutcome outcome, int blocks, double seconds,
                                   StartVerdict startVerdict) {
    char figures[64];
    std::snprintf(figures, sizeof figures, " %d %.3f", blocks, seconds);
    std::string line = std::string("@ended ") + UpgradeOutcomeName(outcome) + figures;
    if (startVerdict != StartVerdict::Recorded)
        line += std::string(" ") + StartVerdictName(startVerdict);
    return line + "\n";
}

std::string ChildReport::ClaimLine(const RunRow& started) {
    return kClaim + StartedJsonLine(started);
}

std::string ChildReport::FinalLine(const RunRow& final) {
    return kFinal + FinalJsonLine(final);
}

std::string ChildReport::VerdictLine(StartVerdict verdict, const std::string& cause) {
    return kVerdict + std::string(StartVerdictName(verdict)) + " " + OneLine(cause) + "\n";
}

std::optional<ChildReport> ChildReport::Parse(const std::string& line) {
    ChildReport report;
    for (const char* prefix : {kClaim, kFinal}) {
        if (line.rfind(prefix, 0) != 0) continue;
        bool final = false;
        if (!ApplyRecordLine(
                line.substr(std::string_view(prefix).size()), "",
                [&report](const std::string&) -> RunRow& { return report.row; }, &final) ||
            final != (prefix == kFinal) || report.row.run.empty())
            return std::nullopt;
        report.kind = final ? Kind::Final : Kind::Claim;
        return report;
    }
    if (line.rfind(kVerdict, 0) == 0) {
        const std::string rest = line.substr(sizeof kVerdict - 1);
        const std::size_t space = rest.find(' ');
        const std::optional<StartVerdict> verdict = StartVerdictFromName(rest.substr(0, space));
        if (!verdict) return std::nullopt;
        report.kind = Kind::Verdict;
        report.startVerdict = *verdict;
        report.message = space == std::string::npos ? "" : rest.substr(space + 1);
        return report;
    }
    if (line.rfind(kMessage, 0) == 0) {
        report.kind = Kind::Message;
        report.message = line.substr(sizeof kMessage - 1);
        return report;
    }
    if (line.rfind(kRun, 0) == 0) {
        report.kind = Kind::Run;
        report.message = line.substr(sizeof kRun - 1);
        if (!Word(report.message)) return std::nullopt;
        return report;
    }
    if (line.rfind(kResult, 0) == 0) {
        // The code, then its detail as it came, spaces and all.
        report.kind = Kind::Result;
        const std::string rest = line.substr(sizeof kResult - 1);
        const std::size_t space = rest.find(' ');
        report.message = rest.substr(0, space);
        if (space != std::string::npos) report.detail = rest.substr(space + 1);
        if (!Word(report.message)) return std::nullopt;
        return report;
    }
    char tail = 0;
    constexpr char kStarted[] = "@started ";
    if (line.rfind(kStarted, 0) == 0) {
        // Two numbers, then the version as it came, spaces and all.
        const std::size_t first = line.find(' ', sizeof kStarted - 1);
        const std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos ||
            std::sscanf(line.substr(0, second).c_str(), "@started %u %u%c", &report.startBlock,
                        &report.endBlock, &tail) != 2)
            return std::nullopt;
        report.kind = Kind::Started;
        report.version = line.substr(second + 1);
        return report;
    }
    if (std::sscanf(line.c_str(), "@progress %d %d%c", &report.done, &report.total, &tail) == 2) {
        report.kind = Kind::Progress;
        return report;
    }
    char name[16] = {};
    char verdictName[16] = {};
    const int fields = std::sscanf(line.c_str(), "@ended %15s %d %lf %15s%c", name, &report.blocks,
                                   &report.seconds, verdictName, &tail);
    if (fields == 3 || fields == 4) {
        const std::optional<UpgradeOutcome> outcome = UpgradeOutcomeFromName(name);
        if (!outcome) return std::nullopt;
        if (fields == 4) {
            const std::optional<StartVerdict> verdict = StartVerdictFromName(verdictName);
            if (!verdict) return std::nullopt;
            report.startVerdict = *verdict;
        }
        report.kind = Kind::Ended;
        report.outcome = *outcome;
        return report;
    }
    return std::nullopt;
}
