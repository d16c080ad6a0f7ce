/* kestrel-devio: the one Kestrel program with a privilege. It holds CAP_SYS_RAWIO, which the
 * kernel asks for before it passes the device's vendor SCSI commands through SG_IO, and uses
 * it for those commands alone.
 *
 * kestrel-cli and kestrel-upgrade start it with one end of a SOCK_SEQPACKET socket pair as its
 * standard input, send DevioRequest messages (DevioWire.h) and read one DevioReply for each.
 * It serves that one run and ends when the run closes its end or dies.
 *
 * What it will do, and nothing else:
 * - open /dev/sd[a-z]+ or /dev/sr[0-9]+ when sysfs says that disk is removable or a CD-ROM
 *   drive: never a fixed disk, a partition, a symbolic link or any other path. The node opened
 *   must be the block device sysfs names (checked on the open descriptor).
 * - open it as the caller: a file capability changes no uid or gid, so the kernel checks the
 *   node's permissions against the user who started us. CAP_DAC_OVERRIDE and the rest are
 *   dropped at start, so nothing but the node's own mode and owner decide.
 * - hold the drive's lock (DevioLock.h, as every Kestrel process takes it) while it is open, and
 *   refuse to keep a drive another process holds (after a short wait when it is not Kestrel).
 * - send only the vendor opcodes 0x85 read, 0x86 write and 0x87 identify, with their 10-byte
 *   frame (byte 1 0, bytes 2-5 the transfer length big-endian, byte 6 0, byte 7 2, bytes 8-9 0),
 *   their direction, and only the transfer lengths the upgrade uses. Anything else is answered
 *   EPERM without reaching the kernel.
 *
 * It reads no environment variable, loads nothing and links only the C library. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <scsi/sg.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "device/linux/devio/DevioLock.h"
#include "device/linux/devio/DevioWire.h"

enum { kScsiTypeCdRom = 5, kMaxNameLength = 12 };

struct VendorCommand {
    uint8_t opcode;
    uint8_t toDevice;
    uint32_t length;
};

/* The requests an upgrade sends: the query and start frames and block status (8), a chunk with
 * its check byte (321), the last chunk of a block (65), the query reply (27), identify (2). */
static const struct VendorCommand s_allowed[] = {
    {0x86, 1, 8}, {0x86, 1, 321}, {0x86, 1, 65}, {0x85, 0, 8}, {0x85, 0, 27}, {0x87, 0, 2},
};

static int s_drives[kDevioMaxDrives];

/* Keeps CAP_SYS_RAWIO, effective and permitted, and drops every other capability. */
static int KeepOnlyRawIo(void) {
    struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
    memset(data, 0, sizeof data);
    data[CAP_TO_INDEX(CAP_SYS_RAWIO)].effective = CAP_TO_MASK(CAP_SYS_RAWIO);
    data[CAP_TO_INDEX(CAP_SYS_RAWIO)].permitted = CAP_TO_MASK(CAP_SYS_RAWIO);
    /* Without the capability to begin with (not installed with it) the request fails with
     * EPERM; then drop everything and let SG_IO report the missing privilege as it would. */
    if (syscall(SYS_capset, &header, data) == 0) return 0;
    memset(data, 0, sizeof data);
    return (int)syscall(SYS_capset, &header, data);
}

/* A small sysfs number ("1\n"), or -1. */
static int ReadNumber(const char* path) {
    char text[16];
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return -1;
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return -1;
    int value = 0;
    for (ssize_t i = 0; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value > 100000) return -1;
        value = value * 10 + (text[i] - '0');
    }
    return text[0] >= '0' && text[0] <= '9' ? value : -1;
}

/* The device number sysfs gives for a disk ("8:16\n"), or 0. */
static dev_t ReadDeviceNumber(const char* name) {
    char path[64], text[32];
    snprintf(path, sizeof path, "/sys/block/%s/dev", name);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return 0;
    text[n] = '\0';
    unsigned major = 0, minor = 0;
    if (sscanf(text, "%u:%u", &major, &minor) != 2) return 0;
    return makedev(major, minor);
}

static int AllOf(const char* text, char low, char high) {
    for (; *text != '\0'; ++text)
        if (*text < low || *text > high) return 0;
    return 1;
}

/* The kernel name ("sdb", "sr0") of an allowed path, or NULL. */
static const char* DriveName(const char* path) {
    if (strncmp(path, "/dev/", 5) != 0) return NULL;
    const char* name = path + 5;
    size_t length = strlen(name);
    if (length < 3 || length > kMaxNameLength) return NULL;
    if (strncmp(name, "sd", 2) == 0 && AllOf(name + 2, 'a', 'z')) return name;
    if (strncmp(name, "sr", 2) == 0 && AllOf(name + 2, '0', '9')) return name;
    return NULL;
}

/* Removable disk or CD-ROM drive, by sysfs. */
static int IsCandidate(const char* name) {
    char path[64];
    snprintf(path, sizeof path, "/sys/block/%s/removable", name);
    if (ReadNumber(path) == 1) return 1;
    snprintf(path, sizeof path, "/sys/block/%s/device/type", name);
    return ReadNumber(path) == kScsiTypeCdRom;
}

static void Open(const struct DevioRequest* request, struct DevioReply* reply) {
    if (memchr(request->path, '\0', sizeof request->path) == NULL) {
        reply->error = EINVAL;
        return;
    }
    const char* name = DriveName(request->path);
    if (name == NULL || !IsCandidate(name)) {
        reply->error = EPERM;
        return;
    }
    int slot = 0;
    while (slot < kDevioMaxDrives && s_drives[slot] >= 0) ++slot;
    if (slot == kDevioMaxDrives) {
        reply->error = EMFILE;
        return;
    }
    /* Checked by the kernel against the caller's own uid and groups. */
    int fd = open(request->path, O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
    if (fd < 0) {
        reply->error = errno;
        return;
    }
    /* The node must be the whole disk sysfs knows under that name, still a candidate now that
     * it is open (a node made elsewhere or a disk swapped in between fails here). */
    struct stat st;
    dev_t expected = ReadDeviceNumber(name);
    if (fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode) || expected == 0 || st.st_rdev != expected ||
        !IsCandidate(name) || ReadDeviceNumber(name) != expected) {
        close(fd);
        reply->error = EPERM;
        return;
    }
    int lock = DevioLockDrive(fd);
    if (lock != kDevioLockHeld) {
        close(fd);
        reply->busy = (uint8_t)lock;
        return;
    }
    s_drives[slot] = fd;
    reply->drive = (uint32_t)slot + 1;
}

static int Allowed(const struct DevioRequest* request) {
    const uint8_t* cdb = request->cdb;
    uint32_t length =
        (uint32_t)cdb[2] << 24 | (uint32_t)cdb[3] << 16 | (uint32_t)cdb[4] << 8 | (uint32_t)cdb[5];
    if (cdb[1] != 0 || length != request->length || cdb[6] != 0 || cdb[7] != 2 || cdb[8] != 0 ||
        cdb[9] != 0)
        return 0;
    for (size_t i = 0; i < sizeof s_allowed / sizeof s_allowed[0]; ++i) {
        if (s_allowed[i].opcode == cdb[0] && s_allowed[i].toDevice == request->toDevice &&
            s_allowed[i].length == length)
            return 1;
    }
    return 0;
}

static int DriveOf(const struct DevioRequest* request) {
    if (request->drive < 1 || request->drive > kDevioMaxDrives) return -1;
    return s_drives[request->drive - 1];
}

static void Command(struct DevioRequest* request, struct DevioReply* reply) {
    int fd = DriveOf(request);
    if (fd < 0) {
        reply->error = EBADF;
        return;
    }
    if (!Allowed(request)) {
        reply->error = EPERM;
        return;
    }
    sg_io_hdr_t hdr;
    memset(&hdr, 0, sizeof hdr);
    hdr.interface_id = 'S';
    hdr.dxfer_direction = request->toDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
    hdr.cmd_len = kDevioCdbSize;
    hdr.cmdp = request->cdb;
    hdr.mx_sb_len = kDevioSenseSize;
    hdr.sbp = reply->sense;
    hdr.dxfer_len = request->length;
    hdr.dxferp = request->toDevice ? request->data : reply->data;
    /* What the device leaves unanswered goes back as zeros, never as an earlier reply's bytes. */
    if (!request->toDevice) memset(reply->data, 0, request->length);
    hdr.timeout = request->timeoutMs;
    /* Sent once, whatever happens: a vendor write sent twice would upset the device. */
    if (ioctl(fd, SG_IO, &hdr) != 0) {
        reply->error = errno;
        return;
    }
    reply->status = hdr.status;
    reply->hostStatus = hdr.host_status;
    reply->driverStatus = hdr.driver_status;
    reply->senseLength = hdr.sb_len_wr < kDevioSenseSize ? hdr.sb_len_wr : kDevioSenseSize;
    reply->length = request->toDevice ? 0 : request->length;
}

static void Close(const struct DevioRequest* request, struct DevioReply* reply) {
    int fd = DriveOf(request);
    if (fd < 0) {
        reply->error = EBADF;
        return;
    }
    close(fd); /* and with it the lock */
    s_drives[request->drive - 1] = -1;
}

int main(void) {
    /* Ends with the process that started it. */
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    prctl(PR_SET_DUMPABLE, 0);
    int type = 0;
    socklen_t size = sizeof type;
    if (getsockopt(0, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_SEQPACKET) {
        fputs("kestrel-devio: kestrel-cli and kestrel-upgrade start this helper themselves\n",
              stderr);
        return 2;
    }
    /* Never set-id: the permission checks must be the caller's. */
    if (getuid() != geteuid() || getgid() != getegid()) return 2;
    close_range(3, ~0U, 0);
    if (KeepOnlyRawIo() != 0) return 2;
    for (int i = 0; i < kDevioMaxDrives; ++i) s_drives[i] = -1;

    /* Received in place, with one byte more than a request: a longer message shows as too long,
     * not cut to size. */
    static union {
        struct DevioRequest request;
        unsigned char bytes[sizeof(struct DevioRequest) + 1];
    } message;
    struct DevioRequest* const request = &message.request;
    static struct DevioReply reply;
    for (;;) {
        ssize_t n = recv(0, message.bytes, sizeof message.bytes, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return 0; /* the run closed its end, or is gone */
        memset(&reply, 0, offsetof(struct DevioReply, data));
        /* The fields first, then the data they announce, to the byte. */
        if ((size_t)n < offsetof(struct DevioRequest, data) || request->length > kDevioMaxData ||
            (size_t)n != DevioRequestSize(request)) {
            reply.error = EINVAL;
        } else {
            switch (request->version == kDevioVersion ? request->op : 0) {
                case kDevioOpen:
                    Open(request, &reply);
                    break;
                case kDevioCommand:
                    Command(request, &reply);
                    break;
                case kDevioClose:
                    Close(request, &reply);
                    break;
                default:
                    reply.error = request->version == kDevioVersion ? EINVAL : EPROTO;
                    break;
            }
        }
        size_t length = DevioReplySize(&reply);
        if (send(0, &reply, length, MSG_NOSIGNAL) != (ssize_t)length) return 0;
    }
}
