#pragma once
// Finding the device: the first candidate drive, in order, that opens read-write and answers
// identify with AA 55.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/DriveEnumeration.h"
#include "device/VendorCommands.h"

// The channel is passed through from the dialog; the search does not depend on it.
DriveHandle FindUpgradeDrive(std::uint32_t channel);
// The drive the last successful FindUpgradeDrive returned, for records of what was upgraded;
// nothing before the first success.
const std::optional<DriveCandidate>& LastFoundDrive();

// What each drive did, for kestrel-cli list. Drives that are not candidates are listed with
// opened false and openError 0: the search skips them without opening them.
struct DriveProbe {
    DriveCandidate drive;
    bool opened = false;
    int openError = 0;
    bool busy = false;         // another Kestrel process holds it; nothing was sent
    bool heldByOther = false;  // another program held its lock past the wait; nothing was sent
    std::string holder;        // that program, when it could be told ("udev-worker, pid 412")

    IdentifyAnswer answer = IdentifyAnswer::RequestFailed;
    std::array<std::uint8_t, 2> reply{};
    PassThroughResult transport;
};
// Every drive in search order; each candidate opened, locked, asked to identify and closed
// again. A drive another process holds is not asked.
std::vector<DriveProbe> ProbeCandidateDrives();
