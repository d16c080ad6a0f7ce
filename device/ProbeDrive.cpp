#include "device/ProbeDrive.h"

#include <cstdio>

#include "device/DriveLock.h"
#include "device/VendorCommands.h"

namespace {
constexpr std::uint8_t kScsiCheckCondition = 0x02;
}

DriveProbe ProbeDrive(const DriveCandidate& drive, DriveHandle* keep) {
    DriveProbe probe;
    probe.drive = drive;
    if (keep != nullptr) *keep = kInvalidDrive;
    // Fixed disks and other drives are never opened, even if they would answer identify.
    if (!IsCandidateKind(drive.kind)) return probe;
    const DriveHandle handle = OpenDriveReadWrite(drive, &probe.openError);
    if (handle == kInvalidDrive) {
        probe.result = ProbeResult::OpenFailed;
        return probe;
    }
    // Held by another Kestrel run (or, after a short wait, by another program): not even
    // identify may reach it.
    const DriveLockResult lock = LockDrive(drive, handle);
    if (lock == DriveLockResult::Busy) {
        probe.result = ProbeResult::Busy;
    } else if (lock == DriveLockResult::HeldByOther) {
        probe.result = ProbeResult::HeldByOther;
        probe.holder = DriveLockHolder(drive);
    } else {
        switch (ProbeIdentify(handle, &probe.reply, &probe.transport)) {
            case IdentifyAnswer::Device:
                probe.result = ProbeResult::Device;
                break;
            case IdentifyAnswer::OtherAnswer:
                probe.result = ProbeResult::NotDevice;
                break;
            case IdentifyAnswer::RequestFailed:
                probe.result = ProbeResult::IdentifyFailed;
                break;
        }
    }
    // The lock stays with a kept handle until CloseDevice (ResetUi).
    if (probe.result == ProbeResult::Device && keep != nullptr) {
        *keep = handle;
    } else {
        CloseDevice(handle);
    }
    return probe;
}

std::string DriveProbe::Cause() const {
    switch (result) {
        case ProbeResult::NotCandidate:
            return "skipped: not removable, never opened";
        case ProbeResult::OpenFailed: {
            // What was refused first: the helper when it refused, else the node's open.
            const std::string refusal = OpenRefusal(openError);
            return refusal.empty() ? "open failed: " + DescribeOsError(openError) : refusal;
        }
        case ProbeResult::Busy:
            return "busy: another Kestrel run holds it";
        case ProbeResult::HeldByOther:
            return "busy: held by another process" + (holder.empty() ? "" : " (" + holder + ")");
        case ProbeResult::IdentifyFailed:
            return "opened, identify request failed: " + RequestError();
        case ProbeResult::NotDevice: {
            // The protocol ignores the SCSI status; a drive that does not know the opcode says
            // so here (2, CHECK CONDITION), which is worth showing.
            char text[96];
            std::snprintf(text, sizeof text, "opened, identify answered %02X %02X: not the device",
                          reply[0], reply[1]);
            std::string line = text;
            if (transport.scsiStatus != 0) {
                std::snprintf(
                    text, sizeof text, " (SCSI status 0x%02X%s)", unsigned{transport.scsiStatus},
                    transport.scsiStatus == kScsiCheckCondition ? ", check condition" : "");
                line += text;
            }
            return line;
        }
        case ProbeResult::Device:
            return "opened, identify answered AA 55: the device";
    }
    return {};
}

std::string DriveProbe::RequestError() const {
    if (transport.osError != 0) return DescribeOsError(transport.osError);
    char text[64];
    std::snprintf(text, sizeof text, "host status 0x%02X, driver status 0x%02X",
                  static_cast<unsigned>(transport.hostStatus),
                  static_cast<unsigned>(transport.driverStatus));
    return text;
}

std::string DriveProbe::Hint() const {
    if (result == ProbeResult::OpenFailed) return OpenFailureHint(openError);
    if (result == ProbeResult::IdentifyFailed) return PassThroughFailureHint(transport);
    if (result == ProbeResult::HeldByOther)
        return "another program kept the drive locked for longer than it takes udev to look at "
               "a new disk: try again when it has finished";
    return {};
}

bool DriveProbe::MayChange() const {
    return result == ProbeResult::OpenFailed || result == ProbeResult::Busy ||
           result == ProbeResult::HeldByOther || result == ProbeResult::IdentifyFailed;
}
