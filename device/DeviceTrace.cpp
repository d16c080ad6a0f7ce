#include "device/DeviceTrace.h"

namespace {

// Requests are sent from the user interface thread only, so a plain pointer is enough.
DeviceTrace* s_trace = nullptr;

}  // namespace

void SetDeviceTrace(DeviceTrace* trace) {
    s_trace = trace;
}

DeviceTrace* CurrentDeviceTrace() {
    return s_trace;
}

void TraceNote(const std::string& text) {
    if (s_trace != nullptr) s_trace->OnNote(text);
}
