#pragma once
// One look at one drive: open it for reading and writing, take its lock, ask identify. The
// device search (upgrade, --device), list, upgrade --all and the station all look this way, so
// a drive is judged, and its cause told, in the same words everywhere.

#include <array>
#include <cstdint>
#include <string>

#include "device/DriveEnumeration.h"
#include "device/PassThrough.h"

// What the look found, in the order it gets there.
enum class ProbeResult {
    NotCandidate,    // a fixed disk or other drive: never opened
    OpenFailed,      // the OS refused the open (openError)
    Busy,            // another Kestrel run holds the drive: nothing was sent
    HeldByOther,     // another program still held its lock after the wait: nothing was sent
    IdentifyFailed,  // the identify request did not come back (transport)
    NotDevice,       // identify came back with something other than AA 55 (reply)
    Device,          // identify answered AA 55
};

struct DriveProbe {
    DriveCandidate drive;
    ProbeResult result = ProbeResult::NotCandidate;
    int openError = 0;
    std::string
        holder;  // HeldByOther: that program, when it could be told ("udev-worker, pid 412")
    std::array<std::uint8_t, 2> reply{};
    PassThroughResult transport;

    bool Opened() const { return result > ProbeResult::OpenFailed; }
    // What happened, for a person: "open failed: Permission denied" (or what the helper
    // refused), "busy: another Kestrel run holds it", "opened, identify answered AA 55: the
    // device", ...
    std::string Cause() const;
    // Why the identify request did not come back: the OS error, or what the adapter or driver
    // said.
    std::string RequestError() const;
    // How to fix it; "" when there is nothing to advise.
    std::string Hint() const;
    // Right after a plug-in the OS may not yet have applied the seat's access rule, and udev
    // holds its short probing lock on the node: such a drive may answer a later look.
    bool MayChange() const;
};

// Looks at the drive. A drive that is the device is closed again unless keep is given: then it
// stays open, holding its lock, in *keep (kInvalidDrive for any other result).
DriveProbe ProbeDrive(const DriveCandidate& drive, DriveHandle* keep = nullptr);
