// Where the line's event stream goes. Each event arrives as one complete JSON object (no
// newline), already numbered (`seq`) and stamped (`time`), in stream order, from the thread
// that runs the line (a station's loop, an upgrade). The stream file, the web view and the
// tests are sinks; a sink that serves other threads guards its own state.
#pragma once

#include <string_view>

class EventSink {
public:
    virtual ~EventSink() = default;
    virtual void OnEvent(std::string_view line) = 0;
};
