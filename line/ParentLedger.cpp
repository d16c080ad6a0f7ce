#include "line/ParentLedger.h"

#include <iostream>

#include "ledger/JsonLinesLedger.h"
#include "line/ChildReport.h"

std::optional<std::pair<StartVerdict, std::string>> ParentLedger::Answer() {
    std::string line;
    // Anything else on stdin is no answer; its end is a parent gone.
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::optional<ChildReport> answer = ChildReport::Parse(line);
        if (answer && answer->kind == ChildReport::Kind::Verdict)
            return std::pair(answer->startVerdict, answer->message);
    }
    return std::nullopt;
}

StartVerdict ParentLedger::Started(const RunRow& row, std::string* error) {
    std::cout << ChildReport::ClaimLine(row) << std::flush;
    const auto answer = Answer();
    if (!answer) {
        *error = "the station process did not answer";
        return StartVerdict::Failed;
    }
    *error = answer->second;
    return answer->first;
}

bool ParentLedger::Finished(const RunRow& row, std::string* error) {
    std::cout << ChildReport::FinalLine(row) << std::flush;
    if (const auto answer = Answer()) {
        *error = answer->second;
        return answer->first == StartVerdict::Recorded;
    }
    // The parent is gone: the record file still gets the run's end (the database's claim went
    // with the parent's connection; its started row shows an interrupted run).
    if (!m_record) return true;
    return JsonLinesLedger(*m_record).Finished(row, error);
}
