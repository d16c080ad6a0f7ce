#pragma once
// How the umockdev door completes an SG_IO request from the responder's reply, the way the
// kernel's SG_IO fills sg_io_hdr: a command that came back is ioctl 0 with its SCSI status (and
// sense, DRIVER_SENSE, SG_INFO_CHECK for a CHECK CONDITION); a vendor request the model failed
// in transport is a host error (DID_ERROR); an unplugged device is ENODEV, and vendor opcodes
// without CAP_SYS_RAWIO EPERM, before anything comes back. Pure, tested without umockdev.

#include <cstdint>

#include "vdev/ScsiResponder.h"

struct SgIoCompletion {
    int result = 0;       // what ioctl returns: 0, or -1 with errorNumber
    int errorNumber = 0;  // only with result -1; then the header is left alone
    std::uint8_t status = kScsiGood;
    std::uint16_t hostStatus = 0;
    std::uint16_t driverStatus = 0;
    std::uint8_t senseWritten = 0;  // bytes of the reply's sense to copy to sbp
    int resid = 0;
    unsigned info = 0;  // SG_INFO_CHECK or 0
};

// senseRoom: mx_sb_len, or 0 when the caller gave no sense buffer.
SgIoCompletion CompleteSgIo(const ScsiReply& reply, std::uint32_t dxferLength,
                            std::uint8_t senseRoom);
