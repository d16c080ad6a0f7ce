/* How a Kestrel process locks a drive it has opened: the same in kestrel-cli, kestrel-upgrade
 * and the helper, which is plain C, so that all of them tell each other from every other
 * program alike.
 *
 * 1. An open-file-description lock (F_OFD_SETLK) on one byte that only Kestrel locks. No other
 *    program takes it, so a conflict there is another Kestrel run: answered at once.
 * 2. An exclusive flock, the block-device locking convention: udev leaves a disk alone while it
 *    is held. udev itself takes LOCK_SH | LOCK_NB while it probes a disk, which it does after
 *    every read-write close of it (so right after a run, a list or a probe), for a few
 *    milliseconds to about a second; other programs may too. Such a lock is waited for, a short
 *    while only.
 * Both belong to the open file description: they go with close(), also when the process dies.
 * Errors other than a conflict (a node without lock support) leave the drive usable: the lock
 * guards against a second writer, it must not stop the only one. */
#ifndef KESTREL_DEVIO_LOCK_H
#define KESTREL_DEVIO_LOCK_H

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/file.h>
#include <time.h>

#include "device/linux/devio/DevioWire.h"

enum {
    kDevioLockWaitMs = 2000, /* udev's probe of a slow stick takes up to about a second */
    kDevioLockStepMs = 20,
};

/* "KEST": far beyond anything a program that locks byte ranges of a small stick would use. */
#define KESTREL_DEVIO_LOCK_BYTE 0x4B455354L

static inline int DevioLockDrive(int fd) {
    struct flock mark;
    memset(&mark, 0, sizeof mark);
    mark.l_type = F_WRLCK;
    mark.l_whence = SEEK_SET;
    mark.l_start = KESTREL_DEVIO_LOCK_BYTE;
    mark.l_len = 1;
    if (fcntl(fd, F_OFD_SETLK, &mark) != 0 && (errno == EAGAIN || errno == EACCES))
        return kDevioLockKestrel;
    for (int waited = 0;; waited += kDevioLockStepMs) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) return kDevioLockHeld;
        if (waited >= kDevioLockWaitMs) return kDevioLockOther;
        struct timespec step = {0, kDevioLockStepMs * 1000000L};
        nanosleep(&step, NULL);
    }
}

#endif
