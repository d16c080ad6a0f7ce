#include "ledger/JsonLinesTally.h"

#include <filesystem>
#include <fstream>

#include "ledger/RunHistory.h"

namespace {

// A run id of 32 hex digits as two numbers; false for any other spelling.
bool ParseRunId(const std::string& run, unsigned long long* high, unsigned long long* low) {
    if (run.size() != 32) return false;
    unsigned long long parts[2] = {0, 0};
    for (std::size_t i = 0; i < 32; ++i) {
        const char c = run[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return false;
        parts[i / 16] = parts[i / 16] << 4 | static_cast<unsigned>(digit);
    }
    *high = parts[0];
    *low = parts[1];
    return true;
}

}  // namespace

bool JsonLinesTally::Counted(const std::string& run) const {
    RunId id;
    if (ParseRunId(run, &id.high, &id.low)) return m_counted.count(id) > 0;
    return m_countedOther.count(run) > 0;
}

void JsonLinesTally::MarkCounted(const std::string& run) {
    RunId id;
    if (ParseRunId(run, &id.high, &id.low))
        m_counted.insert(id);
    else
        m_countedOther.insert(run);
}

void JsonLinesTally::Count(const RunRow& row) {
    if (m_filter.Matches(row)) m_fold.Add(row);
}

bool JsonLinesTally::AddLine(const std::string& text, const std::string& origin) {
    RunRow scratch;
    RunRow* target = &scratch;
    bool final = false;
    const bool record = ApplyRecordLine(
        text, origin,
        [&](const std::string& run) -> RunRow& {
            // A line of a run already counted (the same run in a second file) changes nothing.
            if (Counted(run)) return scratch;
            const auto open = m_open.find(run);
            if (open != m_open.end()) target = &open->second;
            return *target;
        },
        &final);
    if (!record) return false;
    if (target == &scratch && Counted(scratch.run)) {
        // A copy of a run counted already: said once, at its final line.
        if (final) ++m_duplicates;
        return true;
    }
    if (!final) {
        if (target == &scratch) m_open.emplace(scratch.run, std::move(scratch));
        return true;
    }
    Count(*target);
    MarkCounted(target->run);
    if (target != &scratch) m_open.erase(target->run);
    return true;
}

void JsonLinesTally::AddRow(const RunRow& row) {
    if (Counted(row.run)) {
        ++m_duplicates;
        return;
    }
    if (row.Interrupted()) {
        // Its final line may still come from a record file.
        if (!m_open.emplace(row.run, row).second) ++m_duplicates;
        return;
    }
    if (m_open.erase(row.run) > 0) ++m_duplicates;
    Count(row);
    MarkCounted(row.run);
}

bool JsonLinesTally::AddFile(const std::string& path, std::string* error) {
    const std::u8string utf8(path.begin(), path.end());
    std::ifstream in(std::filesystem::path(utf8), std::ios::binary);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::string line;
    int number = 0;
    int records = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        if (AddLine(line, path + ":" + std::to_string(number)))
            ++records;
        else
            ++m_skipped;
    }
    if (in.bad()) {
        *error = "cannot read " + path;
        return false;
    }
    if (records == 0) {
        *error = path + " holds no run record (" +
                 (number == 0 ? std::string("it is empty")
                              : std::to_string(number) + " lines, none a Kestrel record") +
                 ")";
        return false;
    }
    return true;
}

YieldTally JsonLinesTally::Finish() {
    for (const auto& [run, row] : m_open) Count(row);
    m_open.clear();
    YieldTally tally = m_fold.Finish();
    tally.skippedLines = m_skipped;
    tally.duplicates = m_duplicates;
    return tally;
}
