#include "cli/RequestTrace.h"

#include <array>
#include <string>

#include "device/DriveEnumeration.h"
#include "device/VendorCommands.h"

namespace {

const char* OpcodeName(std::uint8_t opcode) {
    switch (opcode) {
        case kOpVendorRead:
            return "read";
        case kOpVendorWrite:
            return "write";
        case kOpVendorIdentify:
            return "identify";
        default:
            return "other";
    }
}

// SPC sense keys 0x0 to 0xF.
constexpr std::array<const char*, 16> kSenseKeyNames{
    "NO SENSE",       "RECOVERED ERROR", "NOT READY",      "MEDIUM ERROR",
    "HARDWARE ERROR", "ILLEGAL REQUEST", "UNIT ATTENTION", "DATA PROTECT",
    "BLANK CHECK",    "VENDOR SPECIFIC", "COPY ABORTED",   "ABORTED COMMAND",
    "RESERVED",       "VOLUME OVERFLOW", "MISCOMPARE",     "COMPLETED"};

std::string Outcome(const PassThroughResult& result) {
    char text[160];
    if (result.osError != 0) {
        std::snprintf(text, sizeof text, "failed: %s (OS error %d)",
                      DescribeOsError(result.osError).c_str(), result.osError);
        return text;
    }
    std::snprintf(text, sizeof text, "%s, SCSI status 0x%02X",
                  result.reachedDevice ? "ok" : "failed", unsigned{result.scsiStatus});
    std::string line = text;
    if (!result.reachedDevice || result.hostStatus != 0 || result.driverStatus != 0) {
        std::snprintf(text, sizeof text, ", host status 0x%02X, driver status 0x%02X",
                      static_cast<unsigned>(result.hostStatus),
                      static_cast<unsigned>(result.driverStatus));
        line += text;
    }
    if (result.senseKey >= 0 && result.senseKey < static_cast<int>(kSenseKeyNames.size())) {
        std::snprintf(text, sizeof text, ", sense key 0x%X %s",
                      static_cast<unsigned>(result.senseKey),
                      kSenseKeyNames[static_cast<std::size_t>(result.senseKey)]);
        line += text;
    }
    return line;
}

}  // namespace

void RequestTrace::OnRequest(const PassThroughRequest& request, const PassThroughResult& result,
                             std::chrono::nanoseconds elapsed) {
    const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
    std::fprintf(m_out, "trace: #%-4u 0x%02X %-8s %-4s %5u bytes  %s  %.3f ms\n", ++m_count,
                 unsigned{request.cdb[0]}, OpcodeName(request.cdb[0]),
                 request.direction == DataDirection::ToDevice ? "out" : "in", request.length,
                 Outcome(result).c_str(), ms);
    std::fflush(m_out);
}

void RequestTrace::OnNote(const std::string& text) {
    std::fprintf(m_out, "trace: %s\n", text.c_str());
    std::fflush(m_out);
}
