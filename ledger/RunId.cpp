#include "ledger/RunId.h"

#include <chrono>

std::string NewRunId() {
    std::uint8_t bytes[16] = {};
    if (!FillRandomBytes(bytes, sizeof bytes)) {
        // Never seen on a working system; the clock still keeps two runs apart.
        auto now =
            static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
        for (std::uint8_t& b : bytes) {
            b = static_cast<std::uint8_t>(now);
            now = (now >> 8) | (now << 56);
        }
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string id;
    for (std::uint8_t b : bytes) {
        id += kDigits[b >> 4];
        id += kDigits[b & 0xF];
    }
    return id;
}
