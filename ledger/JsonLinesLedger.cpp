#include "ledger/JsonLinesLedger.h"

#include "ledger/DurableFile.h"
#include "ledger/RunRow.h"

namespace {
// Created 0640: a supervisor in the owner's group may read the records, nobody else.
constexpr DurableFile::Access kAccess = DurableFile::Access::Shared;
}  // namespace

StartVerdict JsonLinesLedger::Started(const RunRow& row, std::string* error) {
    return DurableFile::AppendTo(m_path, StartedJsonLine(row), kAccess, error)
               ? StartVerdict::Recorded
               : StartVerdict::Failed;
}

bool JsonLinesLedger::Finished(const RunRow& row, std::string* error) {
    return DurableFile::AppendTo(m_path, FinalJsonLine(row), kAccess, error);
}

bool JsonLinesLedger::Writable(const std::string& path, std::string* error) {
    return DurableFile::AppendTo(path, "", kAccess, error);
}
