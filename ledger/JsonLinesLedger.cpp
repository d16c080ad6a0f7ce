#include "ledger/JsonLinesLedger.h"

#include "ledger/RunRecord.h"
#include "ledger/DurableFile.h"

namespace {
// Created 0640: a supervisor in the owner's group may read the records, nobody else.
constexpr DurableFile::Access kAccess = DurableFile::Access::Shared;
}  // namespace

StartVerdict JsonLinesLedger::Started(const RunRecord& record, std::string* error) {
    return DurableFile::AppendTo(m_path, record.StartedJsonLine(), kAccess, error)
               ? StartVerdict::Recorded
               : StartVerdict::Failed;
}

bool JsonLinesLedger::Finished(const RunRecord& record, std::string* error) {
    return DurableFile::AppendTo(m_path, record.ToJsonLine(), kAccess, error);
}

bool JsonLinesLedger::Writable(const std::string& path, std::string* error) {
    return DurableFile::AppendTo(path, "", kAccess, error);
}
