#include "line/DriveSource.h"

std::string DriveLook::Cause() const {
    switch (kind) {
        case Busy:
            return "in use";
        case OpenFailed:
            return "cannot open it: " + DescribeOsError(osError);
        case IdentifyFailed:
            return "identify failed: " + (transport.osError != 0
                                              ? DescribeOsError(transport.osError)
                                              : std::string("no answer"));
        case Device:
        case NotDevice:
            break;
    }
    return {};
}

std::string DriveLook::Hint() const {
    if (kind == OpenFailed) return OpenFailureHint(osError);
    if (kind == IdentifyFailed) return PassThroughFailureHint(transport);
    return {};
}
