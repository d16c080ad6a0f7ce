#pragma once
// Finding the device: the first candidate drive, in order, that opens read-write and answers
// identify with AA 55.

#include <cstdint>
#include <optional>
#include <vector>

#include "device/DriveEnumeration.h"
#include "device/ProbeDrive.h"

// The channel is passed through from the dialog; the search does not depend on it.
DriveHandle FindUpgradeDrive(std::uint32_t channel);
// The drive the last successful FindUpgradeDrive returned, for records of what was upgraded;
// nothing before the first success.
const std::optional<DriveCandidate>& LastFoundDrive();

// Every drive in search order, each looked at (ProbeDrive) and closed again: what list shows.
// Drives that are not candidates are never opened.
std::vector<DriveProbe> ProbeCandidateDrives();
