// libkestrel-wine-sgio.so: lets a Windows program under Wine reach a umockdev device node.
//
// Under Wine the client never opens the drive itself: CreateFileA("\\.\E: ") makes the Wine
// server open the node behind the dosdevices link and pass the descriptor over. umockdev's
// preload library never saw that open, so it does not know the descriptor belongs to an emulated
// node and lets SG_IO through to the testbed's plain file (ENOTTY). This library, preloaded
// before umockdev's, notices SG_IO on a descriptor whose file lies under $UMOCKDEV_DIR/dev,
// opens the same node through umockdev (/dev/NAME, which umockdev redirects and connects to the
// node's ioctl handler) and sends the request there. Everything else passes through untouched.
//
// One umockdev connection is kept per Wine descriptor, identified by its inode so that a reused
// descriptor number is never mistaken for the old one, and closed when Wine closes the
// descriptor. Wine calls ioctl and close from several threads, hence the lock.

#include <dlfcn.h>
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

using IoctlFn = int (*)(int, unsigned long, ...);
using CloseFn = int (*)(int);

struct Bridge {
    int mockFd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
};

std::mutex s_lock;
std::unordered_map<int, Bridge> s_bridges;

IoctlFn RealIoctl() {
    static const auto fn = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
    return fn;
}

CloseFn RealClose() {
    static const auto fn = reinterpret_cast<CloseFn>(dlsym(RTLD_NEXT, "close"));
    return fn;
}

// "/dev/sdb" for a descriptor open on $UMOCKDEV_DIR/dev/sdb, else "".
std::string EmulatedNodeOf(int fd) {
    const char* root = std::getenv("UMOCKDEV_DIR");
    if (root == nullptr || *root == '\0') return {};
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[4096];
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0) return {};
    target[n] = '\0';
    const std::string prefix = std::string(root) + "/dev/";
    if (std::strncmp(target, prefix.c_str(), prefix.size()) != 0) return {};
    return "/dev/" + std::string(target + prefix.size());
}

// The umockdev descriptor that stands in for fd, or -1 when fd is no emulated node.
int BridgeFor(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return -1;
    std::lock_guard guard(s_lock);
    auto it = s_bridges.find(fd);
    if (it != s_bridges.end()) {
        if (it->second.dev == info.st_dev && it->second.ino == info.st_ino)
            return it->second.mockFd;
        RealClose()(it->second.mockFd);
        s_bridges.erase(it);
    }
    const std::string node = EmulatedNodeOf(fd);
    if (node.empty()) return -1;
    // open() resolves to umockdev's wrapper, which connects to the node's handler.
    const int mockFd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (mockFd < 0) return -1;
    s_bridges[fd] = Bridge{mockFd, info.st_dev, info.st_ino};
    return mockFd;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (request == SG_IO) {
        const int mockFd = BridgeFor(fd);
        if (mockFd >= 0) return RealIoctl()(mockFd, request, arg);
    }
    return RealIoctl()(fd, request, arg);
}

__attribute__((visibility("default"))) int close(int fd) {
    {
        std::lock_guard guard(s_lock);
        auto it = s_bridges.find(fd);
        if (it != s_bridges.end()) {
            RealClose()(it->second.mockFd);
            s_bridges.erase(it);
        }
    }
    return RealClose()(fd);
}

}  // extern "C"
