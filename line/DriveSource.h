#pragma once
// The drives a station sees: which are attached, what the OS knows of each, and what a look at
// one found (opened, locked, asked to identify, closed again). The system's drives in a
// station; a test's table of drives in the unit tests.

#include <string>
#include <vector>

#include "device/DriveEnumeration.h"
#include "device/DriveIdentity.h"
#include "device/PassThrough.h"

struct DriveLook {
    enum Kind { Device, NotDevice, Busy, OpenFailed, IdentifyFailed } kind = OpenFailed;
    int osError = 0;
    PassThroughResult transport;

    // Worth another look soon: udev's access rule or its probing lock may not be in place yet.
    bool Transient() const { return kind == Busy || kind == OpenFailed || kind == IdentifyFailed; }
    // "in use", "cannot open it: ...", "identify failed: ..."; "" for an answer.
    std::string Cause() const;
    // What to do about a drive that could not be opened or asked; "" when nothing helps.
    std::string Hint() const;
};

class DriveSource {
public:
    virtual ~DriveSource() = default;
    virtual std::vector<DriveCandidate> Enumerate() = 0;
    virtual DriveIdentity Identify(const DriveCandidate& drive) = 0;
    virtual DriveLook Look(const DriveCandidate& drive) = 0;
    // True when the OS reports drives coming and going; false: the station rescans on a timer.
    virtual bool EventDriven() const = 0;
    // True when a drive came or went since the last call; never waits.
    virtual bool Changed() = 0;
};
