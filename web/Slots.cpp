#include "web/Slots.h"

#include <fstream>

bool ReadSlotsFile(const std::string& path, std::vector<WebSlot>* slots, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read the slots file " + path;
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        const std::size_t end = line.find_first_of(" \t", start);
        const std::size_t label =
            end == std::string::npos ? end : line.find_first_not_of(" \t", end);
        if (label == std::string::npos) {
            *error = path + " line " + std::to_string(number) + ": expected PORT LABEL";
            return false;
        }
        const std::size_t last = line.find_last_not_of(" \t");
        slots->push_back({line.substr(start, end - start), line.substr(label, last + 1 - label)});
    }
    return true;
}

std::string SlotLabel(const std::vector<WebSlot>& slots, const std::string& port) {
    for (const WebSlot& slot : slots)
        if (slot.port == port) return slot.label;
    return {};
}
