#include "ledger/JsonLinesLedger.h"

#include "cli/RecordAppend.h"
#include "ledger/RunRecord.h"

StartVerdict JsonLinesLedger::Started(const RunRecord& record, std::string* error) {
    return AppendDurably(m_path, record.StartedJsonLine(), error) ? StartVerdict::Recorded
                                                                  : StartVerdict::Failed;
}

bool JsonLinesLedger::Finished(const RunRecord& record, std::string* error) {
    return AppendDurably(m_path, record.ToJsonLine(), error);
}

bool JsonLinesLedger::Writable(const std::string& path, std::string* error) {
    return AppendDurably(path, "", error);
}
