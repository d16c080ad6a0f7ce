#pragma once
// An open handle to the device's drive: a file descriptor on Linux, a HANDLE on Windows, held
// in an integer wide enough for either. -1 is the invalid value on both platforms.

#include <cstdint>

using DriveHandle = std::intptr_t;
inline constexpr DriveHandle kInvalidDrive = -1;
