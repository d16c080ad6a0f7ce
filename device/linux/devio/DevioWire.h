/* The messages between kestrel-cli / kestrel-upgrade and kestrel-devio, the helper that holds
 * CAP_SYS_RAWIO. C and C++ both read this header: the helper is plain C.
 *
 * One SOCK_SEQPACKET socket pair; every message is one struct cut after the data it carries
 * (DevioRequestSize, DevioReplySize), nothing else: a request and its reply are one message
 * each way, and no byte that carries nothing is copied. The client sends a DevioRequest and
 * reads one DevioReply before it sends the next. All fields are in the host's byte order (both
 * ends run on the same machine). */
#ifndef KESTREL_DEVIO_WIRE_H
#define KESTREL_DEVIO_WIRE_H

#include <stddef.h>
#include <stdint.h>

/* Raised whenever a message changes: a program and a helper of different releases (a package
 * upgraded while a station ran) refuse each other with EPROTO instead of misreading. */
enum { kDevioVersion = 2 };

enum {
    kDevioOpen = 1,    /* path: open the drive read-write and take its lock */
    kDevioCommand = 2, /* drive, cdb, toDevice, length, data: one vendor request */
    kDevioClose = 3,   /* drive: drop the lock and close */
};

enum {
    kDevioPathSize = 32, /* "/dev/sdb", NUL-terminated */
    kDevioCdbSize = 10,
    kDevioMaxData = 321, /* the longest vendor transfer: one chunk and its check byte */
    kDevioSenseSize = 32,
    kDevioMaxDrives = 8, /* drives one client may hold open at once */
};

/* How a drive's lock went (DevioLock.h); kDevioOpen answers it in busy. */
enum {
    kDevioLockHeld = 0,    /* the drive is held */
    kDevioLockKestrel = 1, /* another Kestrel run holds it */
    kDevioLockOther = 2,   /* another program still held it after the wait */
};

struct DevioRequest {
    uint32_t version; /* kDevioVersion */
    uint32_t op;
    uint32_t drive;     /* kDevioCommand, kDevioClose: the number kDevioOpen answered */
    uint32_t timeoutMs; /* kDevioCommand */
    uint32_t length;    /* kDevioCommand: data bytes, to or from the device */
    uint8_t toDevice;   /* kDevioCommand: 1 the data goes to the device, 0 it comes back */
    uint8_t cdb[kDevioCdbSize];
    char path[kDevioPathSize];
    uint8_t data[kDevioMaxData]; /* kDevioCommand with toDevice: the data */
};

struct DevioReply {
    int32_t error;  /* 0, or the errno of open or ioctl; EPERM for what the helper refuses */
    uint32_t drive; /* kDevioOpen: the drive's number for later requests */
    uint8_t busy;   /* kDevioOpen: the drive was not kept, its lock held by another Kestrel run
                     * (kDevioLockKestrel) or another program (kDevioLockOther, DevioLock.h) */
    uint8_t status; /* kDevioCommand, from sg_io_hdr: SCSI status */
    uint8_t senseLength;
    uint16_t hostStatus;
    uint16_t driverStatus;
    uint8_t sense[kDevioSenseSize];
    uint32_t length;             /* kDevioCommand from the device: data bytes that follow */
    uint8_t data[kDevioMaxData]; /* kDevioCommand from the device: the data */
};

/* The bytes of a message: its fields, and of its data only what it carries. */
static inline size_t DevioRequestSize(const struct DevioRequest* request) {
    size_t data = request->op == kDevioCommand && request->toDevice ? request->length : 0;
    return offsetof(struct DevioRequest, data) + (data <= kDevioMaxData ? data : 0);
}
static inline size_t DevioReplySize(const struct DevioReply* reply) {
    return offsetof(struct DevioReply, data) + (reply->length <= kDevioMaxData ? reply->length : 0);
}

#endif
