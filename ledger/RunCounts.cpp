#include "ledger/RunCounts.h"

#include <cstdio>

using Json = nlohmann::ordered_json;

namespace {

Json PercentJson(double value) {
    return value < 0 ? Json(nullptr) : Json(value);
}

double Ratio(int part, int whole) {
    return whole == 0 ? -1.0 : 100.0 * part / whole;
}

}  // namespace

RunKind KindOf(const RunRow& row) {
    if (row.Interrupted()) return RunKind::Interrupted;
    if (row.code == kLeftAloneCode) return RunKind::LeftAlone;
    if (row.result == "ok") return RunKind::Ok;
    if (row.result == "declined") return RunKind::Declined;
    if (row.result == "cancelled") return RunKind::Cancelled;
    return RunKind::Failed;  // "failed", and a result we do not know: never counted ok
}

std::string CauseOf(const RunRow& row) {
    return row.code.empty() ? "failed" : row.code;
}

bool IsLeftAloneReason(const std::string& reason) {
    return reason == "done" || reason == "held-back" || reason == "busy";
}

void YieldCounts::Count(const RunRow& row) {
    const RunKind kind = KindOf(row);
    if (kind != RunKind::LeftAlone) ++runs;
    switch (kind) {
        case RunKind::Ok:
            ++ok;
            break;
        case RunKind::Failed:
            ++failed;
            ++causes[CauseOf(row)];
            break;
        case RunKind::Cancelled:
            ++cancelled;
            break;
        case RunKind::Declined:
            ++declined;
            break;
        case RunKind::LeftAlone:
            ++leftAlone;
            break;
        case RunKind::Interrupted:
            ++interrupted;
            break;
    }
}

void YieldCounts::Add(const YieldCounts& other) {
    runs += other.runs;
    ok += other.ok;
    failed += other.failed;
    cancelled += other.cancelled;
    declined += other.declined;
    interrupted += other.interrupted;
    leftAlone += other.leftAlone;
    for (const auto& [code, count] : other.causes) causes[code] += count;
}

double YieldCounts::YieldPercent() const {
    return Ratio(ok, Attempts());
}

void RunCounts::Add(const RunCounts& other) {
    runs.Add(other.runs);
    unitsTried += other.unitsTried;
    unitsPassed += other.unitsPassed;
    unitsFirstPass += other.unitsFirstPass;
}

double RunCounts::UnitYieldPercent() const {
    return Ratio(unitsPassed, unitsTried);
}

double RunCounts::FirstPassYieldPercent() const {
    return Ratio(unitsFirstPass, unitsTried);
}

Json RunCounts::ToJson() const {
    Json causes = Json::object();
    for (const auto& [code, count] : runs.causes) causes[code] = count;
    return {{"ok", runs.ok},
            {"failed", runs.failed},
            {"cancelled", runs.cancelled},
            {"declined", runs.declined},
            {"leftAlone", runs.leftAlone},
            {"interrupted", runs.interrupted},
            {"tries", runs.Attempts()},
            {"yieldPercent", PercentJson(runs.YieldPercent())},
            {"units",
             {{"tried", unitsTried},
              {"passed", unitsPassed},
              {"firstPass", unitsFirstPass},
              {"yieldPercent", PercentJson(UnitYieldPercent())},
              {"firstPassYieldPercent", PercentJson(FirstPassYieldPercent())}}},
            {"causes", causes}};
}

std::string RunCounts::Summary() const {
    std::string text = std::to_string(runs.ok) + " ok, " + std::to_string(runs.failed) +
                       " failed, " + std::to_string(runs.cancelled) + " cancelled, " +
                       std::to_string(runs.declined) + " declined, " +
                       std::to_string(runs.leftAlone) + " left alone";
    if (runs.interrupted > 0) text += ", " + std::to_string(runs.interrupted) + " interrupted";
    const double yield = runs.YieldPercent();
    if (yield < 0) return text + "; yield -";
    char figure[64];
    std::snprintf(figure, sizeof figure, "; yield %.1f %% of %d runs", yield, runs.Attempts());
    return text + figure;
}

void RunCounter::Add(const RunRow& row) {
    m_runs.Count(row);
    const RunKind kind = KindOf(row);
    if (kind == RunKind::Declined || kind == RunKind::LeftAlone) return;
    Unit& unit = m_units[UnitOf(row).Key()];
    const std::string when = row.When();
    const bool ok = kind == RunKind::Ok;
    // The earliest try decides; among tries at the same moment the first one added.
    if (!unit.tried || when < unit.firstTry) {
        unit.tried = true;
        unit.firstTry = when;
        unit.firstTryOk = ok;
    }
    unit.passed = unit.passed || ok;
}

RunCounts RunCounter::Counts() const {
    RunCounts counts;
    counts.runs = m_runs;
    for (const auto& [key, unit] : m_units) {
        ++counts.unitsTried;
        counts.unitsPassed += unit.passed ? 1 : 0;
        counts.unitsFirstPass += unit.firstTryOk ? 1 : 0;
    }
    return counts;
}

RunCounts CountRuns(const std::vector<RunRow>& rows) {
    RunCounter counter;
    for (const RunRow& row : rows) counter.Add(row);
    return counter.Counts();
}

std::string WhatToDo(const RunRow& row) {
    if (KindOf(row) != RunKind::Failed) return {};
    const std::string code = CauseOf(row);
    if (code == "no-device")
        return "what to do: the drive did not answer as the device; unplug the unit, check that "
               "it is in upgrade mode and plug it in again";
    if (code == "image-changed")
        return "what to do: the image file changed after the station approved it; stop the "
               "station and start it again with the approved file";
    if (code == "not-recorded")
        return "what to do: the run could not be recorded (see the message); free the record's "
               "disk or fix the database, then plug the unit in again";
    if (code == "killed" || code == "child-failed")
        return "what to do: the unit's run ended abnormally; plug the unit in again, and if it "
               "happens again run it alone with kestrel-cli --verbose upgrade";
    if (!row.startedAt)
        return "what to do: the device refused the image before any block was sent; check that "
               "the file is the image for this board, then plug the unit in again";
    const unsigned failedAt = row.startBlock + static_cast<unsigned>(row.blocksSent);
    return "what to do: the device stopped taking blocks at block " + std::to_string(failedAt) +
           " (" + std::to_string(row.blocksSent) + " of " +
           std::to_string(row.endBlock - row.startBlock) +
           " accepted); unplug the unit and plug it in again to flash it again; if this slot "
           "fails again, check its cable and hub";
}
