#pragma once
// kestrel-cli --verbose: one stderr line per vendor request (opcode, direction, length, result,
// SCSI status, sense key where one came back, time) and the run's notes, prefixed "trace: "
// so they never read as one of the tool's messages. The kind of trace a support engineer asks
// for from the field.

#include <cstdio>

#include "device/DeviceTrace.h"

class RequestTrace : public DeviceTrace {
public:
    explicit RequestTrace(std::FILE* out = stderr) : m_out(out) {}

    void OnRequest(const PassThroughRequest& request, const PassThroughResult& result,
                   std::chrono::nanoseconds elapsed) override;
    void OnNote(const std::string& text) override;

private:
    std::FILE* m_out;
    unsigned m_count = 0;
};
