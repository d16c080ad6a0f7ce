/* Which vendor requests the helper passes on: exactly the frames an upgrade sends, each with its
 * direction and transfer length, and a command block whose length field says the same length as
 * the data the request carries or asks for. A header of its own so that the unit tier holds the
 * very rule the helper runs, without a drive. */
#ifndef KESTREL_DEVIO_ALLOWED_H
#define KESTREL_DEVIO_ALLOWED_H

#include <stddef.h>
#include <stdint.h>

#include "device/linux/devio/DevioWire.h"

struct DevioVendorCommand {
    uint8_t opcode;
    uint8_t toDevice;
    uint32_t length;
};

/* The requests an upgrade sends: the query and start frames and block status (8), a chunk with
 * its check byte (321), the last chunk of a block (65), the query reply (27), identify (2). */
static const struct DevioVendorCommand kDevioAllowed[] = {
    {0x86, 1, 8}, {0x86, 1, 321}, {0x86, 1, 65}, {0x85, 0, 8}, {0x85, 0, 27}, {0x87, 0, 2},
};

/* 1 when the request may reach the drive. The length field of the command block (bytes 2-5,
 * big-endian) must equal the request's data length: a block saying 8 bytes over a transfer of
 * 321 would let the device read or write past what the frame announces. */
static inline int DevioCommandAllowed(const struct DevioRequest* request) {
    const uint8_t* cdb = request->cdb;
    uint32_t length = cdb[2] * 16777216u + cdb[3] * 65536u + cdb[4] * 256u + cdb[5];
    if (cdb[1] != 0 || length != request->length || cdb[6] != 0 || cdb[7] != 2 || cdb[8] != 0 ||
        cdb[9] != 0)
        return 0;
    for (size_t i = 0; i < sizeof kDevioAllowed / sizeof kDevioAllowed[0]; ++i) {
        if (kDevioAllowed[i].opcode == cdb[0] && kDevioAllowed[i].toDevice == request->toDevice &&
            kDevioAllowed[i].length == length)
            return 1;
    }
    return 0;
}

#endif
