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

std::string ChildReport::EndedLine(UpgradeOutcome outcome, int blocks, double seconds) {
    char figures[64];
    std::snprintf(figures, sizeof figures, " %d %.3f\n", blocks, seconds);
    return std::string("@ended ") + UpgradeOutcomeName(outcome) + figures;
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
    if (std::sscanf(line.c_str(), "@ended %15s %d %lf%c", name, &report.blocks, &report.seconds,
                    &tail) == 3) {
        const std::optional<UpgradeOutcome> outcome = UpgradeOutcomeFromName(name);
        if (!outcome) return std::nullopt;
        report.kind = Kind::Ended;
        report.outcome = *outcome;
        return report;
    }
    return std::nullopt;
}
