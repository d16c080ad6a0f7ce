#pragma once
// The record file of --record: one JSON object per line, a "started" line before the start
// frame and a "finished" line when the run has ended (see RunRow). Each line is appended in
// one write and flushed to disk; an append after a partial line (a write cut short earlier)
// first ends that line, so no line is ever glued onto another. Its calls may come from several
// threads (a station's runs): each append is whole, and one process writes the file.

#include <string>

#include "ledger/RunLedger.h"

class JsonLinesLedger : public RunLedger {
public:
    explicit JsonLinesLedger(std::string path) : m_path(std::move(path)) {}
    StartVerdict Started(const RunRow& row, std::string* error) override;
    bool Finished(const RunRow& row, std::string* error) override;

    // Whether the file takes an append at all (created when missing), checked before any
    // device is touched; false with the cause in *error.
    static bool Writable(const std::string& path, std::string* error);

private:
    std::string m_path;
};
