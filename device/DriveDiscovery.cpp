#include "device/DriveDiscovery.h"

namespace {
std::optional<DriveCandidate> s_lastFound;
}

const std::optional<DriveCandidate>& LastFoundDrive() {
    return s_lastFound;
}

DriveHandle FindUpgradeDrive(std::uint32_t /*channel*/) {
    // The first candidate that opens, is not held by another Kestrel run and answers AA 55; a
    // drive that cannot be opened (access denied) only makes the search go on.
    for (const DriveCandidate& drive : EnumerateCandidateDrives()) {
        DriveHandle handle = kInvalidDrive;
        if (ProbeDrive(drive, &handle).result == ProbeResult::Device) {
            s_lastFound = drive;
            return handle;
        }
    }
    return kInvalidDrive;
}

std::vector<DriveProbe> ProbeCandidateDrives() {
    std::vector<DriveProbe> probes;
    for (const DriveCandidate& drive : EnumerateDrives()) probes.push_back(ProbeDrive(drive));
    return probes;
}
