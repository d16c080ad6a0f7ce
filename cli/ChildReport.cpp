#include "cli/ChildReport.h"

#include <cstdio>

namespace {

constexpr char kMessage[] = "@message ";

}  // namespace

std::string ChildReport::MessageLine(const std::string& text) {
    return kMessage + text + "\n";
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

std::optional<ChildReport> ChildReport::Parse(const std::string& line) {
    ChildReport report;
    if (line.rfind(kMessage, 0) == 0) {
        report.kind = Kind::Message;
        report.message = line.substr(sizeof kMessage - 1);
        return report;
    }
    char tail = 0;
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
