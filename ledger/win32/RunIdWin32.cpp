#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include "ledger/RunId.h"

bool FillRandomBytes(std::uint8_t* bytes, std::size_t count) {
    return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count),
                           BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}

std::string DefaultStationName() {
    char name[256] = {};
    DWORD size = sizeof name;
    if (GetComputerNameExA(ComputerNameDnsHostname, name, &size) == FALSE) return {};
    return std::string(name, size);
}
