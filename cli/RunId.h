#pragma once
// What names a run and the place it ran: a fresh run id from the OS's random source and the
// default station name. One implementation per platform, chosen by CMake.

#include <string>

// 32 lower-case hex digits from the OS's random source (getrandom; BCryptGenRandom).
std::string NewRunId();
// The host name, the default of --station; "" when the OS does not tell.
std::string DefaultStationName();
