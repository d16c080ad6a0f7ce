#include "vdev/tcmu/TcmuDoor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "vdev/tcmu/TcmuExport.h"
#include "vdev/tcmu/TcmuRing.h"

namespace {

constexpr auto kAttachLimit = std::chrono::seconds(30);  // sd attach under QEMU TCG is slow

void Say(const std::string& name, const std::string& text) {
    std::fprintf(stderr, "kestrel-vdev tcmu: %s: %s\n", name.c_str(), text.c_str());
}

// Owns one file descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

void Signal(int eventFd) {
    const std::uint64_t one = 1;
    if (::write(eventFd, &one, sizeof one) < 0) {
        // An eventfd write fails only on counter overflow; the reader wakes either way.
    }
}

// Serves the ring until stopFd is signalled. Runs on its own thread, the only one that touches
// the model while the door is up.
void ServeRing(TcmuRing& ring, const DeviceModel& model, int uioFd, int stopFd, int unplugFd) {
    bool unplugAnnounced = false;
    for (;;) {
        const RingPass pass = ring.ProcessPending();
        if (pass.entries > 0) {
            // Any write to the uio node makes target_core_user reap the completed entries.
            const std::uint32_t kick = 0;
            if (::write(uioFd, &kick, sizeof kick) < 0) {
                // The device is going away; the stop request follows.
            }
        }
        if ((pass.unplugged || model.Unplugged()) && !unplugAnnounced) {
            unplugAnnounced = true;
            Signal(unplugFd);
        }
        pollfd fds[2] = {{uioFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint32_t interrupts = 0;  // the count itself does not matter: the ring tells all
            if (::read(uioFd, &interrupts, sizeof interrupts) < 0 && errno != EAGAIN) return;
        } else if (fds[0].revents != 0) {
            return;  // POLLERR / POLLHUP: the uio device is gone
        }
    }
}

void WriteFileAtomically(const std::string& path, const void* data, std::size_t size) {
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) throw std::runtime_error("cannot write " + temp);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot rename " + temp + " to " + path + ": " +
                                 std::strerror(errno));
}

}  // namespace

TcmuDoor::TcmuDoor(TcmuDoorOptions options, DeviceModel& model)
    : m_options(std::move(options)), m_model(model) {}

RequestOutcome TcmuDoor::HandleVendor(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                                      std::uint8_t* buffer, std::uint32_t length) {
    ++m_vendorRequests;
    if (m_model.Faults().delayMsPerCommand > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_model.Faults().delayMsPerCommand));
    const RequestOutcome outcome = m_model.Handle(cdb, cdbLength, toDevice, buffer, length);
    if (m_options.verbose) {
        char line[96];
        std::snprintf(line, sizeof line, "vendor %02X length %u: %s", cdb[0], length,
                      outcome == RequestOutcome::Ok       ? "ok"
                      : outcome == RequestOutcome::Failed ? "failed"
                                                          : "unplugged");
        Say(m_options.name, line);
    }
    return outcome;
}

int TcmuDoor::Run() {
    // Stop signals are taken through a signalfd on this thread; block them before any thread
    // starts so that none of them takes one instead.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const Fd signalFd(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    const Fd stopFd(::eventfd(0, EFD_CLOEXEC));
    const Fd unplugFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (signalFd.Get() < 0 || stopFd.Get() < 0 || unplugFd.Get() < 0) {
        Say(m_options.name, std::string("cannot set up signals: ") + std::strerror(errno));
        return 1;
    }

    LunIdentity identity;
    identity.removable = m_options.removable;
    identity.serial = m_options.name;
    identity.blocks = m_options.sizeBytes / 512;
    ScsiResponder responder(identity,
                            [this](const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                                   std::uint8_t* buffer, std::uint32_t length) {
                                return HandleVendor(cdb, cdbLength, toDevice, buffer, length);
                            });

    TcmuExport lun(m_options.name, m_options.sizeBytes);
    int status = 0;
    try {
        lun.CreateBackstore();
        const std::string uioPath = lun.UioDevicePath();
        const std::size_t mapSize = lun.UioMapSize();
        const Fd uioFd(::open(uioPath.c_str(), O_RDWR | O_CLOEXEC));
        if (uioFd.Get() < 0)
            throw std::runtime_error("cannot open " + uioPath + ": " + std::strerror(errno));
        void* map = ::mmap(nullptr, mapSize, PROT_READ | PROT_WRITE, MAP_SHARED, uioFd.Get(), 0);
        if (map == MAP_FAILED)
            throw std::runtime_error("cannot map " + uioPath + ": " + std::strerror(errno));
        TcmuRing ring(static_cast<std::uint8_t*>(map), mapSize, responder);
        if (!ring.Valid()) {
            ::munmap(map, mapSize);
            throw std::runtime_error(uioPath + " does not hold a TCMU ring of mailbox version 2");
        }

        std::thread server(ServeRing, std::ref(ring), std::cref(m_model), uioFd.Get(), stopFd.Get(),
                           unplugFd.Get());
        try {
            lun.LinkLun();
            const std::string disk = lun.WaitForDisk(kAttachLimit);
            Say(m_options.name,
                std::string(m_options.removable ? "removable" : "fixed") + " disk " + disk);
            if (!m_options.readyFile.empty()) {
                const std::string text = disk + "\n";
                WriteFileAtomically(m_options.readyFile, text.data(), text.size());
            }
            for (bool running = true; running;) {
                pollfd fds[2] = {{signalFd.Get(), POLLIN, 0}, {unplugFd.Get(), POLLIN, 0}};
                if (::poll(fds, 2, -1) < 0) {
                    if (errno == EINTR) continue;
                    throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
                }
                if ((fds[1].revents & POLLIN) != 0) {
                    std::uint64_t count = 0;
                    if (::read(unplugFd.Get(), &count, sizeof count) > 0) {
                        lun.UnlinkLun();
                        Say(m_options.name, "unplugged: LUN removed");
                    }
                }
                if ((fds[0].revents & POLLIN) != 0) running = false;
            }
            lun.RemoveTarget();  // the sd detach still sends commands: keep serving until done
        } catch (const std::exception& e) {
            Say(m_options.name, e.what());
            status = 1;
            try {
                lun.RemoveTarget();
            } catch (const std::exception& again) {
                Say(m_options.name, again.what());
            }
        }
        Signal(stopFd.Get());
        server.join();
        ::munmap(map, mapSize);
    } catch (const std::exception& e) {
        Say(m_options.name, e.what());
        status = 1;
    }
    try {
        lun.RemoveBackstore();
    } catch (const std::exception& e) {
        Say(m_options.name, e.what());
        status = 1;
    }
    Finish();
    if (!m_options.flashDump.empty()) {
        try {
            WriteFileAtomically(m_options.flashDump, m_model.Flash(), kImageSize);
        } catch (const std::exception& e) {
            Say(m_options.name, e.what());
            status = 1;
        }
    }
    return status;
}

void TcmuDoor::Finish() const {
    Say(m_options.name, std::to_string(m_vendorRequests) + " vendor requests, " +
                            std::to_string(m_model.BlocksAccepted()) + " blocks accepted" +
                            (m_model.Unplugged() ? ", unplugged" : ""));
}
