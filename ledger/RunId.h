#pragma once
// What names a run and the place it ran: a fresh run id from the OS's random source and the
// default station name. The random bytes and the host name come from one file per platform,
// chosen by CMake.

#include <cstddef>
#include <cstdint>
#include <string>

// 32 lower-case hex digits from the OS's random source.
std::string NewRunId();
// The host name, the default of --station; "" when the OS does not tell.
std::string DefaultStationName();

// Fills bytes from the OS's random source (getrandom; BCryptGenRandom); false when it could not.
bool FillRandomBytes(std::uint8_t* bytes, std::size_t count);
