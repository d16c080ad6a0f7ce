#pragma once
// The drives a station sees: which are attached, what the OS knows of each, and what a look at
// one found (see ProbeDrive: opened, locked, asked to identify, closed again). The system's
// drives in a station; a test's table of drives in the unit tests.

#include <string>
#include <vector>

#include "device/DriveEnumeration.h"
#include "device/DriveIdentity.h"
#include "device/ProbeDrive.h"

class DriveSource {
public:
    virtual ~DriveSource() = default;
    virtual std::vector<DriveCandidate> Enumerate() = 0;
    virtual DriveIdentity Identify(const DriveCandidate& drive) = 0;
    virtual DriveProbe Look(const DriveCandidate& drive) = 0;
    // True when the OS reports drives coming and going; false: the station rescans on a timer.
    virtual bool EventDriven() const = 0;
    // True when a drive came or went since the last call; never waits.
    virtual bool Changed() = 0;
};
