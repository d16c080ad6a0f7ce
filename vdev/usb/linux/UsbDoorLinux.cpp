// The USB door on Linux: one configfs gadget per device with one FunctionFS function (the mass
// storage interface), bound to its own UDC of dummy_hcd.
//
// Platform notes:
// - configfs: /sys/kernel/config/usb_gadget/NAME holds idVendor, idProduct, bcdDevice, bcdUSB,
//   strings/0x409/{manufacturer,product,serialnumber}, configs/c.1 (MaxPower, strings) and
//   functions/ffs.NAME, linked into the configuration. Writing a UDC's name (dummy_udc.K) to the
//   gadget's UDC file plugs the device in; writing an empty line pulls it out. Teardown runs in
//   the reverse order: unbind, unmount, remove the link, then the folders.
// - FunctionFS: mounting type functionfs with the instance name gives ep0. The descriptors
//   (v2 header, full- and high-speed sets) and the strings are written to ep0 before the UDC
//   is bound, or the bind fails; then ep1 (bulk IN, the first endpoint) and ep2 (bulk OUT)
//   appear. ep0 then reads events: ENABLE/DISABLE as the host configures the device or it is
//   unbound, and SETUP for class requests to the interface. A request is answered by writing
//   (data to the host) or reading (from the host, or the status stage of one without data),
//   and stalled by doing the opposite.
// - An endpoint is halted by I/O in the wrong direction on its file (read on IN, write on OUT:
//   EBADMSG); the host clears the halt itself (CLEAR_FEATURE), which the UDC handles.
// - I/O on an endpoint blocks until the host configures the device; after an unbind, I/O in
//   flight fails with ESHUTDOWN. A blocked read is woken for the stop with a signal (EINTR).
// - dummy_hcd's UDC K is the platform device dummy_hcd.K, and the disk the kernel makes of it
//   sits below /sys/devices/platform/dummy_hcd.K/: that is how the ready file names the nodes.

#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "vdev/ScsiResponder.h"
#include "vdev/usb/BulkOnly.h"
#include "vdev/usb/UsbDoor.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kGadgets = "/sys/kernel/config/usb_gadget";
constexpr const char* kMounts = "/run/kestrel-vdev-usb";
constexpr std::uint8_t kClassMassStorage = 0x08;
constexpr std::uint8_t kProtocolBulkOnly = 0x50;
constexpr std::uint8_t kRequestReset = 0xFF;     // Bulk-Only Mass Storage Reset
constexpr std::uint8_t kRequestMaxLun = 0xFE;    // Get Max LUN
constexpr std::uint32_t kPacket = 64;            // the smallest bulk packet (full speed)
constexpr std::uint32_t kMaxTransfer = 1 << 20;  // usb-storage sends at most 240 sectors
constexpr std::uint64_t kDiskBlocks = 2048;

std::atomic<bool> g_stop{false};

void Wake(int /*signal*/) {}

bool WriteText(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

std::string Hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

void Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// One interface with a bulk IN (address 1) and a bulk OUT (address 2) endpoint.
void PutInterface(std::vector<std::uint8_t>& out, std::uint8_t subclass, std::uint16_t packet) {
    out.insert(out.end(), {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, kClassMassStorage,
                           subclass, kProtocolBulkOnly, 1});
    for (const std::uint8_t address : {std::uint8_t{1 | USB_DIR_IN}, std::uint8_t{2}}) {
        out.insert(out.end(),
                   {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, USB_ENDPOINT_XFER_BULK});
        Put16(out, packet);
        out.push_back(0);  // bInterval
    }
}

std::vector<std::uint8_t> Descriptors(std::uint8_t subclass) {
    std::vector<std::uint8_t> out;
    Put32(out, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Put32(out, 0);  // length, below
    Put32(out, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    Put32(out, 3);  // full speed: interface and two endpoints
    Put32(out, 3);  // high speed
    PutInterface(out, subclass, 64);
    PutInterface(out, subclass, 512);
    const auto length = static_cast<std::uint32_t>(out.size());
    for (int i = 0; i < 4; ++i)
        out[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
    return out;
}

std::vector<std::uint8_t> Strings() {
    const std::string interface = "Kestrel mass storage";
    std::vector<std::uint8_t> out;
    Put32(out, FUNCTIONFS_STRINGS_MAGIC);
    Put32(out, 0);
    Put32(out, 1);  // strings
    Put32(out, 1);  // languages
    Put16(out, 0x0409);
    out.insert(out.end(), interface.begin(), interface.end());
    out.push_back(0);
    const auto length = static_cast<std::uint32_t>(out.size());
    for (int i = 0; i < 4; ++i)
        out[4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (8 * i));
    return out;
}

// One virtual USB device: its gadget, its FunctionFS files, its model and the two threads that
// serve the control and the bulk pipes.
class Gadget {
public:
    Gadget(unsigned index, const UsbDeviceSetup& setup, bool verbose)
        : m_index(index),
          m_setup(setup),
          m_verbose(verbose),
          m_name("kestrel" + std::to_string(index + 1)),
          m_dir(std::string(kGadgets) + "/" + m_name),
          m_mount(std::string(kMounts) + "/" + m_name),
          m_udc("dummy_udc." + std::to_string(index)),
          m_model(setup.config, setup.faults),
          m_responder({true, setup.serial, kDiskBlocks, setup.cdrom},
                      [this](const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                             std::uint8_t* buffer, std::uint32_t length) {
                          return m_model.Handle(cdb, cdbLength, toDevice, buffer, length);
                      }) {}

    ~Gadget() { TearDown(); }
    Gadget(const Gadget&) = delete;
    Gadget& operator=(const Gadget&) = delete;

    // Makes the gadget and its function, ready to bind; the reason on failure.
    std::string SetUp() {
        std::error_code ec;
        fs::create_directories(m_mount, ec);
        if (!fs::is_directory(std::string("/sys/class/udc/") + m_udc))
            return "no UDC " + m_udc + " (load dummy_hcd with num=" + std::to_string(m_index + 1) +
                   " or more)";
        const std::string strings = m_dir + "/strings/0x409";
        const std::string config = m_dir + "/configs/c.1";
        const std::string function = m_dir + "/functions/ffs." + m_name;
        if (::mkdir(m_dir.c_str(), 0755) != 0)
            return "cannot make " + m_dir + ": " + std::strerror(errno) +
                   " (configfs mounted, libcomposite loaded?)";
        m_made = true;
        bool ok = WriteText(m_dir + "/idVendor", Hex4(m_setup.vendorId)) &&
                  WriteText(m_dir + "/idProduct", Hex4(m_setup.productId)) &&
                  WriteText(m_dir + "/bcdDevice", "0x0100") &&
                  WriteText(m_dir + "/bcdUSB", "0x0200") && ::mkdir(strings.c_str(), 0755) == 0 &&
                  WriteText(strings + "/manufacturer", m_setup.manufacturer) &&
                  WriteText(strings + "/product", m_setup.product) &&
                  WriteText(strings + "/serialnumber", m_setup.serial) &&
                  ::mkdir(config.c_str(), 0755) == 0 &&
                  ::mkdir((config + "/strings/0x409").c_str(), 0755) == 0 &&
                  WriteText(config + "/strings/0x409/configuration", "Kestrel") &&
                  WriteText(config + "/MaxPower", "100");
        if (!ok) return "cannot configure " + m_dir + ": " + std::strerror(errno);
        if (::mkdir(function.c_str(), 0755) != 0)
            return "cannot make " + function + ": " + std::strerror(errno) + " (usb_f_fs loaded?)";
        if (::symlink(function.c_str(), (config + "/ffs." + m_name).c_str()) != 0)
            return "cannot link " + function + ": " + std::strerror(errno);
        if (::mount(m_name.c_str(), m_mount.c_str(), "functionfs", 0, nullptr) != 0)
            return "cannot mount FunctionFS " + m_name + ": " + std::strerror(errno);
        m_mounted = true;
        m_ep0 = ::open((m_mount + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
        if (m_ep0 < 0) return "cannot open " + m_mount + "/ep0: " + std::strerror(errno);
        const std::vector<std::uint8_t> descriptors = Descriptors(m_setup.subclass);
        const std::vector<std::uint8_t> strings_ = Strings();
        if (::write(m_ep0, descriptors.data(), descriptors.size()) !=
                static_cast<ssize_t>(descriptors.size()) ||
            ::write(m_ep0, strings_.data(), strings_.size()) !=
                static_cast<ssize_t>(strings_.size()))
            return "FunctionFS refused the descriptors: " + std::string(std::strerror(errno));
        m_in = ::open((m_mount + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
        m_out = ::open((m_mount + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
        if (m_in < 0 || m_out < 0)
            return "cannot open the bulk endpoints: " + std::string(std::strerror(errno));
        m_control = std::thread([this] { ServeControl(); });
        m_bulk = std::thread([this] { ServeBulk(); });
        return {};
    }

    bool Plug(bool in) {
        std::lock_guard<std::mutex> lock(m_plugMutex);
        if (in == m_bound) return true;
        const bool ok = WriteText(m_dir + "/UDC", in ? m_udc : "\n");
        if (ok) m_bound = in;
        if (!ok)
            std::cerr << "kestrel-vdev usb: cannot " << (in ? "bind " : "unbind ") << m_name << ": "
                      << std::strerror(errno) << "\n";
        return ok;
    }

    // The /dev node the kernel made of this device, or "" while there is none.
    std::string Node() const {
        const std::string platform = "/dummy_hcd." + std::to_string(m_index) + "/";
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/sys/block", ec)) {
            const std::string name = entry.path().filename();
            if (!name.starts_with("sd") && !name.starts_with("sr")) continue;
            const std::string real = fs::canonical(entry.path(), ec).string();
            if (real.find(platform) != std::string::npos) return "/dev/" + name;
        }
        return {};
    }

    void TearDown() {
        if (m_bulk.joinable() || m_control.joinable()) {
            Plug(false);
            m_stopping = true;
            while (m_bulk.joinable() || m_control.joinable()) {
                if (m_bulk.joinable()) ::pthread_kill(m_bulk.native_handle(), SIGUSR1);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                if (m_bulkDone && m_bulk.joinable()) m_bulk.join();
                if (m_controlDone && m_control.joinable()) m_control.join();
            }
        } else if (m_bound) {
            Plug(false);
        }
        for (int* fd : {&m_in, &m_out, &m_ep0})
            if (*fd >= 0) ::close(std::exchange(*fd, -1));
        if (m_mounted) ::umount(m_mount.c_str());
        m_mounted = false;
        if (!m_made) return;
        m_made = false;
        const std::string config = m_dir + "/configs/c.1";
        ::unlink((config + "/ffs." + m_name).c_str());
        for (const std::string& dir :
             {config + "/strings/0x409", config, m_dir + "/functions/ffs." + m_name,
              m_dir + "/strings/0x409", m_dir})
            ::rmdir(dir.c_str());
        ::rmdir(m_mount.c_str());
    }

    const DeviceModel& Model() const { return m_model; }
    // "kestrel1 (KV0001): 420 vendor requests, 84 blocks accepted": the door's account at exit.
    std::string Summary() const {
        return m_name + " (" + m_setup.serial + "): " + std::to_string(m_vendorRequests) +
               " vendor requests, " + std::to_string(m_model.BlocksAccepted()) +
               " blocks accepted" + (m_model.Unplugged() ? ", unplugged" : "");
    }

private:
    void ServeControl() {
        usb_functionfs_event events[4];
        while (!m_stopping) {
            pollfd p{m_ep0, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            const ssize_t n = ::read(m_ep0, events, sizeof events);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                break;
            }
            for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i) {
                if (events[i].type == FUNCTIONFS_SETUP) Setup(events[i].u.setup);
                // After enumeration, and again after each USB port reset (usb-storage's answer to
                // a phase error or a transport failure).
                if (events[i].type == FUNCTIONFS_ENABLE && m_verbose)
                    std::cerr << "kestrel-vdev usb: " << m_name << ": configured by the host\n";
            }
        }
        m_controlDone = true;
    }

    void Setup(const usb_ctrlrequest& request) {
        const bool in = (request.bRequestType & USB_DIR_IN) != 0;
        const bool classInterface = (request.bRequestType & (USB_TYPE_MASK | USB_RECIP_MASK)) ==
                                    (USB_TYPE_CLASS | USB_RECIP_INTERFACE);
        std::uint8_t byte = 0;
        if (classInterface && in && request.bRequest == kRequestMaxLun) {
            (void)!::write(m_ep0, &byte, 1);  // one LUN: the highest number is 0
            return;
        }
        if (classInterface && !in && request.bRequest == kRequestReset) {
            m_reset = true;
            if (m_verbose) std::cerr << "kestrel-vdev usb: " << m_name << ": bulk-only reset\n";
            (void)!::read(m_ep0, &byte, 0);  // the status stage
            return;
        }
        // Anything else is stalled: I/O in the wrong direction.
        if (in)
            (void)!::read(m_ep0, &byte, 0);
        else
            (void)!::write(m_ep0, &byte, 0);
    }

    void ServeBulk() {
        sigset_t wake;
        sigemptyset(&wake);
        sigaddset(&wake, SIGUSR1);
        ::pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
        std::vector<std::uint8_t> buffer(kMaxTransfer);
        std::uint8_t cbw[512];
        while (!m_stopping) {
            const ssize_t n = ::read(m_out, cbw, sizeof cbw);
            if (n < 0) {
                // Not configured (pulled out, or not yet enumerated): wait for the host.
                if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                continue;
            }
            m_reset = false;
            const std::optional<CommandBlock> block =
                ParseCommandBlock(cbw, static_cast<std::size_t>(n));
            if (!block || block->dataLength > kMaxTransfer) {
                // Not meaningful: both pipes stay stalled until the host resets the device.
                HaltIn();
                HaltOut();
                while (!m_reset && !m_stopping)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            Serve(*block, buffer.data());
        }
        m_bulkDone = true;
    }

    // Reads the whole data stage from the host; false when the pipe broke.
    bool ReceiveData(std::uint8_t* data, std::uint32_t length) {
        std::uint32_t got = 0;
        while (got < length) {
            const ssize_t n = ::read(m_out, data + got, length - got);
            if (n < 0 && errno == EINTR && !m_stopping) continue;
            if (n <= 0) return false;
            got += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    bool Send(const std::uint8_t* data, std::size_t length) {
        ssize_t n = -1;
        do {
            n = ::write(m_in, data, length);
        } while (n < 0 && errno == EINTR && !m_stopping);
        return n == static_cast<ssize_t>(length);
    }

    void HaltIn() {
        std::uint8_t byte = 0;
        (void)!::read(m_in, &byte, 1);
    }
    void HaltOut() {
        std::uint8_t byte = 0;
        (void)!::write(m_out, &byte, 1);
    }

    void Status(const CommandBlock& block, std::uint32_t residue, CswStatus status) {
        const auto csw = BuildStatus(block.tag, residue, status);
        Send(csw.data(), csw.size());
    }

    void Serve(const CommandBlock& block, std::uint8_t* data) {
        const std::uint32_t length = block.dataLength;
        const bool toDevice = !block.toHost;
        const bool vendor = ScsiResponder::IsVendorOpcode(block.cdb[0]);
        const unsigned number = vendor ? ++m_vendorRequests : 0;
        if (vendor && number == m_setup.stallAt && length > 0) {
            // Refused in the data stage: the pipe the data would travel on is halted, the host
            // clears it and reads a failed status, then asks for the sense.
            Trace(block, "stalled (scripted)");
            if (block.toHost)
                HaltIn();
            else
                HaltOut();
            // Not HARDWARE ERROR: usb-storage sets retry_hwerror, and the SCSI layer would send
            // the command again by itself.
            m_sense.Remember(
                CheckCondition(kSenseIllegalRequest, kAscInvalidFieldInCdb).sense.data());
            Status(block, length, CswStatus::Failed);
            return;
        }
        if (toDevice && length > 0 && !ReceiveData(data, length)) return;
        if (block.toHost) std::memset(data, 0, length);

        if (vendor && number == m_setup.phaseErrorAt) {
            Trace(block, "phase error (scripted)");
            if (block.toHost && length > 0) HaltIn();
            Status(block, length, CswStatus::PhaseError);
            return;
        }

        std::uint32_t written = 0;
        if (m_sense.Answer(block, data, length, &written)) {
            const DataInPlan plan = PlanDataIn(length, written, false, kPacket);
            if (plan.send > 0) Send(data, plan.send);
            if (plan.stallIn) HaltIn();
            Status(block, plan.residue, CswStatus::Passed);
            return;
        }

        const ScsiReply reply =
            m_responder.Execute(block.cdb.data(), block.cdbLength, toDevice, data, length);
        if (vendor) Trace(block, m_model.Log().empty() ? "" : m_model.Log().back().verdict);
        if (reply.unplugged) {
            // The device vanishes in the middle of the command: no status ever comes.
            Plug(false);
            return;
        }
        const bool failed = reply.status != kScsiGood;
        m_sense.Remember(failed ? reply.sense.data() : nullptr);
        if (block.toHost) {
            const DataInPlan plan = PlanDataIn(length, reply.transferred, failed, kPacket);
            if (plan.send > 0) Send(data, plan.send);
            if (plan.stallIn) HaltIn();
            Status(block, plan.residue, failed ? CswStatus::Failed : CswStatus::Passed);
        } else {
            Status(block, failed ? length : length - std::min(length, reply.transferred),
                   failed ? CswStatus::Failed : CswStatus::Passed);
        }
    }

    void Trace(const CommandBlock& block, const std::string& verdict) const {
        if (!m_verbose) return;
        char line[160];
        std::snprintf(line, sizeof line, "kestrel-vdev usb: %s: %02X %s %u (%u-byte CDB) %s\n",
                      m_name.c_str(), block.cdb[0], block.toHost ? "in" : "out", block.dataLength,
                      unsigned{block.cdbLength}, verdict.empty() ? "ok" : verdict.c_str());
        std::cerr << line;
    }

    unsigned m_index;
    UsbDeviceSetup m_setup;
    bool m_verbose;
    std::string m_name, m_dir, m_mount, m_udc;
    DeviceModel m_model;
    ScsiResponder m_responder;
    SenseKeeper m_sense;
    unsigned m_vendorRequests = 0;
    int m_ep0 = -1, m_in = -1, m_out = -1;
    bool m_made = false, m_mounted = false;
    std::mutex m_plugMutex;
    bool m_bound = false;
    std::atomic<bool> m_stopping{false}, m_reset{false}, m_bulkDone{false}, m_controlDone{false};
    std::thread m_control, m_bulk;
};

// The whole lines appended to `path` since `read` (bytes taken so far); a line still being
// written waits for its newline.
std::vector<std::string> NewLines(const std::string& path, std::streamoff& read) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    if (!in || !in.seekg(read)) return lines;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1)
        lines.push_back(text.substr(begin, end - begin));
    read += static_cast<std::streamoff>(begin);
    return lines;
}

bool WriteFlash(const std::string& path, const std::vector<std::uint8_t>& flash) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash.data()),
              static_cast<std::streamsize>(flash.size()));
    return static_cast<bool>(out);
}

}  // namespace

int RunUsbDoor(const UsbDoorOptions& options) {
    // The stop signals are taken by sigtimedwait below; SIGUSR1 only wakes a bulk thread out of
    // a blocking read. Threads inherit this mask.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGUSR1);
    ::pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    sigdelset(&stop, SIGUSR1);
    struct sigaction wake {};
    wake.sa_handler = Wake;  // no SA_RESTART: the read returns EINTR
    ::sigaction(SIGUSR1, &wake, nullptr);

    std::vector<std::unique_ptr<Gadget>> gadgets;
    int status = 0;
    for (unsigned i = 0; i < options.devices.size() && status == 0; ++i) {
        gadgets.push_back(std::make_unique<Gadget>(i, options.devices[i], options.verbose));
        if (const std::string error = gadgets.back()->SetUp(); !error.empty()) {
            std::cerr << "kestrel-vdev usb: " << error << "\n";
            status = 1;
        }
    }
    // A device whose first event plugs it in starts out unplugged.
    std::vector<bool> plugged(options.devices.size(), true);
    std::vector<bool> seen(options.devices.size(), false);
    for (const UsbPlugEvent& event : options.schedule) {
        if (!seen[event.device]) plugged[event.device] = !event.plug;
        seen[event.device] = true;
    }
    for (const unsigned device : options.unplugged) plugged[device] = false;
    for (std::size_t i = 0; i < gadgets.size() && status == 0; ++i)
        if (plugged[i] && !gadgets[i]->Plug(true)) status = 1;

    const auto start = std::chrono::steady_clock::now();
    if (status == 0 && !options.readyFile.empty()) {
        // Ready when the kernel has made a node of every device plugged in at the start.
        std::string nodes;
        for (int tries = 0; tries < 600 && !g_stop; ++tries) {
            nodes.clear();
            bool all = true;
            for (std::size_t i = 0; i < gadgets.size(); ++i) {
                if (!plugged[i]) continue;
                const std::string node = gadgets[i]->Node();
                all = all && !node.empty();
                nodes += node + "\n";
            }
            if (all) break;
            nodes.clear();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (nodes.empty() && std::count(plugged.begin(), plugged.end(), true) > 0) {
            std::cerr << "kestrel-vdev usb: the kernel made no disk of the devices within 30 s\n";
            status = 1;
        } else {
            std::ofstream(options.readyFile) << nodes;
        }
    }

    std::size_t next = 0;
    std::streamoff plugFileRead = 0;
    while (status == 0) {
        const auto now = std::chrono::steady_clock::now();
        while (next < options.schedule.size() && start + options.schedule[next].at <= now) {
            const UsbPlugEvent& event = options.schedule[next++];
            gadgets[event.device]->Plug(event.plug);
        }
        if (!options.plugFile.empty()) {
            for (const std::string& command : NewLines(options.plugFile, plugFileRead)) {
                unsigned long k = 0;
                char sign = 0;
                int used = 0;
                if (std::sscanf(command.c_str(), "%c%lu%n", &sign, &k, &used) == 2 &&
                    static_cast<std::size_t>(used) == command.size() &&
                    (sign == '+' || sign == '-') && k >= 1 && k <= gadgets.size()) {
                    gadgets[k - 1]->Plug(sign == '+');
                } else {
                    std::cerr << "kestrel-vdev usb: " << options.plugFile << ": not +K or -K: '"
                              << command << "'\n";
                }
            }
        }
        auto wait = std::chrono::milliseconds(options.plugFile.empty() ? 200 : 50);
        if (next < options.schedule.size())
            wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(
                                      start + options.schedule[next].at - now));
        const timespec timeout{0,
                               static_cast<long>(std::max<long long>(wait.count(), 1)) * 1000000L};
        if (::sigtimedwait(&stop, nullptr, &timeout) > 0) break;
    }
    g_stop = true;

    for (const auto& gadget : gadgets) {
        gadget->TearDown();
        std::cerr << "kestrel-vdev usb: " << gadget->Summary() << "\n";
    }
    if (!options.flashOut.empty()) {
        for (std::size_t i = 0; i < gadgets.size(); ++i) {
            const std::string path = gadgets.size() == 1
                                         ? options.flashOut
                                         : options.flashOut + "." + std::to_string(i + 1);
            if (!WriteFlash(path, gadgets[i]->Model().FlashImage())) {
                std::cerr << "kestrel-vdev usb: cannot write " << path << "\n";
                status = 1;
            }
        }
    }
    return status;
}
