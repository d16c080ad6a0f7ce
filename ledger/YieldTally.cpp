#include "ledger/YieldTally.h"

#include <algorithm>

bool IsOk(const RunRow& row) {
    return KindOf(row) == RunKind::Ok;
}

bool IsAttempt(const RunRow& row) {
    const RunKind kind = KindOf(row);
    return kind != RunKind::Declined && kind != RunKind::LeftAlone;
}

void CycleTime::Add(double seconds) {
    ++runs;
    totalSeconds += seconds;
    longestSeconds = std::max(longestSeconds, seconds);
}

void CycleTime::Add(const CycleTime& other) {
    runs += other.runs;
    totalSeconds += other.totalSeconds;
    longestSeconds = std::max(longestSeconds, other.longestSeconds);
}

void YieldTally::Add(const YieldTally& other) {
    totals.Add(other.totals);
    cycle.Add(other.cycle);
    if (!other.first.empty() && (first.empty() || other.first < first)) first = other.first;
    if (other.last > last) last = other.last;
    for (const auto& [sha, image] : other.images) {
        Image& mine = images[sha];
        mine.file = std::max(mine.file, image.file);
        mine.counts.Add(image.counts);
    }
    for (const auto& [name, station] : other.stations) {
        stations[name].counts.Add(station.counts);
        stations[name].cycle.Add(station.cycle);
    }
    for (const auto& [slot, counts] : other.slots) slots[slot].Add(counts);
    for (const auto& [hour, counts] : other.hours) hours[hour].Add(counts);
    for (const auto& [lot, counts] : other.lots) lots[lot].Add(counts);
    for (const auto& [message, count] : other.failures) failures[message] += count;
    for (const auto& [key, cause] : other.causes) {
        Cause& mine = causes[key];
        mine.runs += cause.runs;
        if (cause.when >= mine.when) {
            mine.when = cause.when;
            mine.detail = cause.detail;
        }
    }
    unitsTried += other.unitsTried;
    unitsPassed += other.unitsPassed;
    unitsFirstPass += other.unitsFirstPass;
    unitsFailedTwice += other.unitsFailedTwice;
    rework.insert(rework.end(), other.rework.begin(), other.rework.end());
    repeats.insert(repeats.end(), other.repeats.begin(), other.repeats.end());
    interrupted.insert(interrupted.end(), other.interrupted.begin(), other.interrupted.end());
    skippedLines += other.skippedLines;
    duplicates += other.duplicates;
    SortLists();
}

void YieldTally::SortLists() {
    std::stable_sort(rework.begin(), rework.end(), [](const UnitLine& a, const UnitLine& b) {
        return a.lastSeen != b.lastSeen ? a.lastSeen > b.lastSeen : a.unitKey < b.unitKey;
    });
    std::stable_sort(repeats.begin(), repeats.end(), [](const UnitLine& a, const UnitLine& b) {
        return a.counts.failed != b.counts.failed ? a.counts.failed > b.counts.failed
                                                  : a.unitKey < b.unitKey;
    });
    std::stable_sort(interrupted.begin(), interrupted.end(),
                     [](const InterruptedRun& a, const InterruptedRun& b) {
                         return a.startedAt != b.startedAt ? a.startedAt < b.startedAt
                                                           : a.run < b.run;
                     });
    if (rework.size() > kListLimit) rework.resize(kListLimit);
    if (repeats.size() > kListLimit) repeats.resize(kListLimit);
    if (interrupted.size() > kListLimit) interrupted.resize(kListLimit);
}

void YieldFold::Add(const RunRow& row) {
    const std::string when = row.When();
    m_tally.totals.Count(row);
    m_counter.Add(row);
    if (!when.empty() && (m_tally.first.empty() || when < m_tally.first)) m_tally.first = when;
    if (when > m_tally.last) m_tally.last = when;
    const bool finishedTry = !row.Interrupted() && IsAttempt(row);
    YieldTally::Image& image = m_tally.images[row.sha256];
    image.file = std::max(image.file, row.file);
    image.counts.Count(row);
    YieldTally::Station& station = m_tally.stations[row.station];
    station.counts.Count(row);
    if (finishedTry) {
        station.cycle.Add(row.seconds);
        m_tally.cycle.Add(row.seconds);
    }
    const std::string slot = row.port.value_or(row.drive.value_or(""));
    m_tally.slots[{row.station, slot}].Count(row);
    if (when.size() >= 13) m_tally.hours[when.substr(0, 13)].Count(row);
    m_tally.lots[row.lot.value_or("")].Count(row);
    YieldCounts one;
    one.Count(row);
    if (one.failed) {
        ++m_tally.failures[row.message];
        YieldTally::Cause& cause = m_tally.causes[{row.station, slot, CauseOf(row)}];
        ++cause.runs;
        if (when >= cause.when) {
            cause.when = when;
            cause.detail = row.detail;
        }
    }
    if (row.Interrupted())
        m_tally.interrupted.push_back({row.run, row.station, row.unit, row.startedAt.value_or("")});

    UnitState& unit = m_units[UnitOf(row).Key()];
    unit.counts.Count(row);
    unit.stations.insert(row.station);
    if (unit.firstSeen.empty() || when < unit.firstSeen) unit.firstSeen = when;
    if (when > unit.lastSeen) unit.lastSeen = when;
}

YieldTally YieldFold::Finish() {
    const RunCounts counts = m_counter.Counts();
    m_tally.unitsTried = counts.unitsTried;
    m_tally.unitsPassed = counts.unitsPassed;
    m_tally.unitsFirstPass = counts.unitsFirstPass;
    for (const auto& [key, unit] : m_units) {
        if (unit.counts.Attempts() == 0) continue;
        const bool rework = unit.counts.ok == 0;
        const bool repeat = unit.counts.failed >= 2;
        if (repeat) ++m_tally.unitsFailedTwice;
        if (!rework && !repeat) continue;
        const UnitLine line{key,
                            UnitIdentity::LabelOf(key),
                            unit.counts,
                            {unit.stations.begin(), unit.stations.end()},
                            unit.firstSeen,
                            unit.lastSeen};
        if (rework) m_tally.rework.push_back(line);
        if (repeat) m_tally.repeats.push_back(line);
    }
    m_units.clear();
    m_tally.SortLists();
    return std::move(m_tally);
}
