#include "device/DriveDiscovery.h"

#include "device/DriveLock.h"

namespace {
std::optional<DriveCandidate> s_lastFound;
}

const std::optional<DriveCandidate>& LastFoundDrive() {
    return s_lastFound;
}

DriveHandle FindUpgradeDrive(std::uint32_t /*channel*/) {
    // Fixed disks and other drives are never opened, even if they would answer identify.
    for (const DriveCandidate& drive : EnumerateCandidateDrives()) {
        const DriveHandle handle = OpenDriveReadWrite(drive);
        if (handle == kInvalidDrive) continue;  // e.g. access denied: go on with the next one
        // Held by another Kestrel run (or, after a short wait, by another program): not even
        // identify may reach it.
        if (LockDrive(drive, handle) != DriveLockResult::Held) {
            CloseDevice(handle);
            continue;
        }
        // The lock stays with the handle until CloseDevice (ResetUi).
        if (VendorIdentify(handle)) {
            s_lastFound = drive;
            return handle;
        }
        CloseDevice(handle);
    }
    return kInvalidDrive;
}

std::vector<DriveProbe> ProbeCandidateDrives() {
    std::vector<DriveProbe> probes;
    for (const DriveCandidate& drive : EnumerateDrives()) {
        DriveProbe probe;
        probe.drive = drive;
        if (IsCandidateKind(drive.kind)) {
            const DriveHandle handle = OpenDriveReadWrite(drive, &probe.openError);
            probe.opened = handle != kInvalidDrive;
            const DriveLockResult lock =
                probe.opened ? LockDrive(drive, handle) : DriveLockResult::Held;
            probe.busy = lock == DriveLockResult::Busy;
            probe.heldByOther = lock == DriveLockResult::HeldByOther;
            if (probe.heldByOther) probe.holder = DriveLockHolder(drive);
            if (probe.opened && !probe.busy && !probe.heldByOther) {
                probe.answer = ProbeIdentify(handle, &probe.reply, &probe.transport);
            }
            CloseDevice(handle);
        }
        probes.push_back(probe);
    }
    return probes;
}
