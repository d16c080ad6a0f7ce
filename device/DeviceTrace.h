#pragma once
// An optional observer of the device link, for field diagnosis (kestrel-cli --verbose): every
// vendor request as the OS answered it, with the time it took, and notes on what the run did
// around the device (the sleep inhibitor). The protocol never depends on it; without an
// observer nothing is measured or formatted.

#include <chrono>
#include <string>

#include "device/PassThrough.h"

class DeviceTrace {
public:
    virtual ~DeviceTrace() = default;
    // One request, after it came back or failed.
    virtual void OnRequest(const PassThroughRequest& request, const PassThroughResult& result,
                           std::chrono::nanoseconds elapsed) = 0;
    virtual void OnNote(const std::string& text) = 0;
};

// One observer per process (the front end's); nullptr removes it. Not owned.
void SetDeviceTrace(DeviceTrace* trace);
DeviceTrace* CurrentDeviceTrace();

// Sends a note to the observer, if there is one.
void TraceNote(const std::string& text);
