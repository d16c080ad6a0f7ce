#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <cstdint>

#include "cli/RunId.h"

std::string NewRunId() {
    std::uint8_t bytes[16] = {};
    BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string id;
    for (std::uint8_t b : bytes) {
        id += kDigits[b >> 4];
        id += kDigits[b & 0xF];
    }
    return id;
}

std::string DefaultStationName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (GetComputerNameExA(ComputerNameDnsHostname, name, &size) == FALSE) return {};
    return std::string(name, size);
}
