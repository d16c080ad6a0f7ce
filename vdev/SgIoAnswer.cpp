#include "vdev/SgIoAnswer.h"

#include <algorithm>
#include <cerrno>

namespace {

// Values the kernel's SCSI layer reports; the sg headers do not name them all.
constexpr std::uint16_t kDidError = 0x07;
constexpr std::uint16_t kDriverSense = 0x08;
constexpr unsigned kSgInfoCheck = 0x1;

}  // namespace

SgIoCompletion CompleteSgIo(const ScsiReply& reply, std::uint32_t dxferLength,
                            std::uint8_t senseRoom) {
    SgIoCompletion done;
    switch (reply.vendorOutcome) {
        case RequestOutcome::Unplugged:
            done.result = -1;
            done.errorNumber = ENODEV;
            return done;
        case RequestOutcome::PermissionDenied:
            done.result = -1;
            done.errorNumber = EPERM;
            return done;
        case RequestOutcome::Failed:
            done.hostStatus = kDidError;
            done.resid = static_cast<int>(dxferLength);
            done.info = kSgInfoCheck;
            return done;
        case RequestOutcome::Ok:
        case RequestOutcome::NotSupported:
            break;
    }
    done.status = reply.status;
    if (reply.status != kScsiGood) {
        done.resid = static_cast<int>(dxferLength);
        done.info = kSgInfoCheck;
        if (reply.status == kScsiCheckCondition) {
            done.driverStatus = kDriverSense;
            done.senseWritten =
                static_cast<std::uint8_t>(std::min<std::size_t>(senseRoom, reply.sense.size()));
        }
        return done;
    }
    done.resid = static_cast<int>(dxferLength - std::min(reply.transferred, dxferLength));
    return done;
}
