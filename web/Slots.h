#pragma once
// The names operators give a station's slots (--slots FILE), for the pages, the console and
// `list`: a unit's drive name changes at every plug, its USB port path does not.

#include <string>
#include <vector>

// A named slot of the station: a USB port path and what the operators call it ("Slot 3").
struct WebSlot {
    std::string port;
    std::string label;
};

// Reads a slots file: one "PORT LABEL" per line; blank lines and lines starting with '#' are
// skipped. False, with "FILE line N: why" in *error, for anything else.
bool ReadSlotsFile(const std::string& path, std::vector<WebSlot>* slots, std::string* error);

// The label of `port` among `slots`, or "" when it has none.
std::string SlotLabel(const std::vector<WebSlot>& slots, const std::string& port);
