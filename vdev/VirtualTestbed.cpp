#include "vdev/VirtualTestbed.h"

#include <scsi/sg.h>
#include <umockdev.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include "vdev/DriveSysfs.h"
#include "vdev/ScsiResponder.h"
#include "vdev/SgIoAnswer.h"

namespace {

constexpr int kMaxCdb = 16;

std::atomic<bool> s_testbedAlive{false};

struct Node {
    VirtualTestbed::Impl* owner = nullptr;
    VirtualDrive drive;
    std::string devnode;  // "/dev/sdb"
    DeviceModel model;
    std::unique_ptr<ScsiResponder> responder;  // the drive's SCSI face, over model
    unsigned delayMs = 0;                      // the model's delay for the request being served
    unsigned opens = 0;
    unsigned refusedIoctls = 0;
    UMockdevIoctlBase* handler = nullptr;
    std::size_t index = 0;  // numbers its USB device and SCSI host
    bool attached = false;
    GMainContext* context = nullptr;
    GMainLoop* loop = nullptr;
    std::thread thread;
};

// umockdev's library exports these without declaring them: they serve a device node's ioctl
// socket on a main context of the caller's choice (umockdev_testbed_attach_ioctl always uses the
// testbed's one worker thread).
extern "C" void umockdev_ioctl_base_register_path(UMockdevIoctlBase* self, GMainContext* context,
                                                  const gchar* devnode, const gchar* socketPath);
extern "C" void umockdev_ioctl_base_unregister_path(UMockdevIoctlBase* self, const gchar* devnode);

template <typename T>
void Put(UMockdevIoctlData* data, std::size_t offset, T value) {
    std::memcpy(data->data + offset, &value, sizeof value);
}

std::string TakeError(GError* error) {
    std::string text = error != nullptr ? error->message : "unknown error";
    g_clear_error(&error);
    return text;
}

// Runs f on the thread that iterates context and waits for it. An idle source, not
// g_main_context_invoke: that runs f at once in the calling thread whenever it can take the
// context, which it can before the device's thread has entered its loop.
void CallInLoop(GMainContext* context, const std::function<void()>& f) {
    struct Call {
        const std::function<void()>* f;
        std::promise<void> done;
    } call{&f, {}};
    std::future<void> done = call.done.get_future();
    GSource* source = g_idle_source_new();
    g_source_set_callback(
        source,
        [](gpointer data) -> gboolean {
            auto* c = static_cast<Call*>(data);
            (*c->f)();
            c->done.set_value();
            return G_SOURCE_REMOVE;
        },
        &call, nullptr);
    g_source_attach(source, context);
    g_source_unref(source);
    done.wait();
}

}  // namespace

struct VirtualTestbed::Impl {
    UMockdevTestbed* testbed = nullptr;
    std::string root;
    std::mutex mutex;
    std::vector<std::unique_ptr<Node>> nodes;

    Node& Find(const std::string& name) {
        for (auto& node : nodes) {
            if (node->drive.name == name) {
                return *node;
            }
        }
        throw std::out_of_range("no virtual drive named " + name);
    }

    static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer user);
    static void OnConnected(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer user);
    void ServeSgIo(Node& node, UMockdevIoctlClient* client);
    void Plug(Node& node);    // sysfs entries, device node and its handler
    void Unplug(Node& node);  // all of them gone, as when the unit is pulled out
    void Shutdown();          // every handler and thread
};

void VirtualTestbed::Impl::OnConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer user) {
    auto* node = static_cast<Node*>(user);
    std::lock_guard lock(node->owner->mutex);
    ++node->opens;
}

gboolean VirtualTestbed::Impl::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client,
                                       gpointer user) {
    auto* node = static_cast<Node*>(user);
    if (umockdev_ioctl_client_get_request(client) != SG_IO) {
        // A block device answers many ioctls; the product must need none of them.
        {
            std::lock_guard lock(node->owner->mutex);
            ++node->refusedIoctls;
        }
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    node->owner->ServeSgIo(*node, client);
    return TRUE;
}

// Follows the sg_io_hdr and its CDB and data pointers into the client's memory, lets the drive's
// SCSI responder answer (the model for the vendor opcodes), and fills the status fields the way
// the kernel's SG_IO does.
void VirtualTestbed::Impl::ServeSgIo(Node& node, UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;
    UMockdevIoctlData* header = umockdev_ioctl_data_resolve(arg, 0, sizeof(sg_io_hdr_t), &error);
    if (header == nullptr) {
        g_clear_error(&error);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    sg_io_hdr_t hdr;
    std::memcpy(&hdr, header->data, sizeof hdr);
    if (hdr.interface_id != 'S' || hdr.cmd_len == 0 || hdr.cmd_len > kMaxCdb ||
        hdr.iovec_count != 0 || hdr.cmdp == nullptr ||
        (hdr.dxfer_len > 0 && hdr.dxferp == nullptr)) {
        g_object_unref(header);
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return;
    }
    UMockdevIoctlData* cdb =
        umockdev_ioctl_data_resolve(header, offsetof(sg_io_hdr_t, cmdp), hdr.cmd_len, &error);
    UMockdevIoctlData* data = nullptr;
    if (cdb != nullptr && hdr.dxfer_len > 0) {
        data = umockdev_ioctl_data_resolve(header, offsetof(sg_io_hdr_t, dxferp), hdr.dxfer_len,
                                           &error);
    }
    if (cdb == nullptr || (hdr.dxfer_len > 0 && data == nullptr)) {
        g_clear_error(&error);
        if (cdb != nullptr) {
            g_object_unref(cdb);
        }
        g_object_unref(header);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }

    const bool toDevice = hdr.dxfer_direction == SG_DXFER_TO_DEV;
    std::uint8_t* buffer = data != nullptr ? data->data : nullptr;
    ScsiReply reply;
    node.delayMs = 0;
    bool gone = false;
    {
        std::lock_guard lock(mutex);
        gone = node.model.Unplugged();
    }
    if (gone && !ScsiResponder::IsVendorOpcode(cdb->data[0])) {
        // A unit that was pulled out answers nothing; its vendor requests still reach the
        // model, which logs them.
        reply.vendorOutcome = RequestOutcome::Unplugged;
    } else {
        reply = node.responder->Execute(cdb->data, hdr.cmd_len, toDevice, buffer, hdr.dxfer_len);
    }
    if (node.delayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(node.delayMs));
    }

    const std::uint8_t senseRoom = hdr.sbp != nullptr ? hdr.mx_sb_len : 0;
    SgIoCompletion done = CompleteSgIo(reply, hdr.dxfer_len, senseRoom);
    if (done.senseWritten > 0) {
        UMockdevIoctlData* senseData =
            umockdev_ioctl_data_resolve(header, offsetof(sg_io_hdr_t, sbp), hdr.mx_sb_len, &error);
        if (senseData != nullptr) {
            std::memcpy(senseData->data, reply.sense.data(), done.senseWritten);
            g_object_unref(senseData);
        } else {
            g_clear_error(&error);
            done.senseWritten = 0;
        }
    }
    if (done.result == 0) {
        Put(header, offsetof(sg_io_hdr_t, status), done.status);
        Put(header, offsetof(sg_io_hdr_t, masked_status),
            static_cast<unsigned char>(done.status >> 1));
        Put(header, offsetof(sg_io_hdr_t, msg_status), static_cast<unsigned char>(0));
        Put(header, offsetof(sg_io_hdr_t, sb_len_wr), done.senseWritten);
        Put(header, offsetof(sg_io_hdr_t, host_status),
            static_cast<unsigned short>(done.hostStatus));
        Put(header, offsetof(sg_io_hdr_t, driver_status),
            static_cast<unsigned short>(done.driverStatus));
        Put(header, offsetof(sg_io_hdr_t, resid), done.resid);
        Put(header, offsetof(sg_io_hdr_t, duration), node.delayMs);
        Put(header, offsetof(sg_io_hdr_t, info), done.info);
    }
    // Completing writes the resolved copies back into the client before it resumes.
    umockdev_ioctl_client_complete(client, done.result, done.errorNumber);
    if (data != nullptr) {
        g_object_unref(data);
    }
    g_object_unref(cdb);
    g_object_unref(header);
}

VirtualTestbed::VirtualTestbed(std::vector<VirtualDrive> drives, bool requirePreloadHere)
    : m_impl(std::make_unique<Impl>()) {
    if (s_testbedAlive.exchange(true)) {
        throw VirtualTestbedError("another virtual testbed is still alive in this process");
    }
    Impl& impl = *m_impl;
    impl.testbed = umockdev_testbed_new();
    if (impl.testbed == nullptr) {
        s_testbedAlive = false;
        throw VirtualTestbedError("umockdev_testbed_new failed");
    }
    // umockdev tells the preload apart by /sys being redirected, so ask only now.
    if (requirePreloadHere && !umockdev_in_mock_environment()) {
        g_object_unref(impl.testbed);
        s_testbedAlive = false;
        throw VirtualTestbedError(
            "the umockdev preload library is not loaded in this process (link with "
            "-lumockdev-preload or run under umockdev-wrapper)");
    }
    gchar* root = umockdev_testbed_get_root_dir(impl.testbed);
    impl.root = root;
    g_free(root);

    try {
        for (std::size_t i = 0; i < drives.size(); ++i) {
            const VirtualDrive& drive = drives[i];
            const bool cdrom = drive.kind == VirtualDriveKind::CdRom;
            if (drive.name.size() < 3 || drive.name.substr(0, 2) != (cdrom ? "sr" : "sd")) {
                throw VirtualTestbedError("virtual drive name " + drive.name +
                                          " does not fit its kind");
            }
            auto node = std::make_unique<Node>();
            node->owner = &impl;
            node->drive = drive;
            node->index = i;
            node->devnode = "/dev/" + drive.name;
            node->model = DeviceModel(drive.config, drive.faults);
            LunIdentity identity;
            identity.removable = drive.kind != VirtualDriveKind::Fixed;
            identity.cdrom = drive.kind == VirtualDriveKind::CdRom;
            identity.serial = drive.serial;
            identity.blocks = kVirtualDriveSectors;
            Node* served = node.get();
            node->responder = std::make_unique<ScsiResponder>(
                identity,
                [&impl, served](const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                                std::uint8_t* buffer, std::uint32_t length) {
                    std::lock_guard lock(impl.mutex);
                    const RequestOutcome outcome =
                        served->model.Handle(cdb, cdbLength, toDevice, buffer, length);
                    served->delayMs = served->model.Faults().delayMsPerCommand;
                    return outcome;
                });
            // Every device is served on a thread of its own: on one shared thread, devices
            // flashed in parallel would wait for each other's requests.
            node->context = g_main_context_new();
            node->loop = g_main_loop_new(node->context, FALSE);
            // umockdev's clients run their I/O on the thread-default context of the thread
            // that accepted them, so the context must be this thread's default.
            node->thread = std::thread([context = node->context, loop = node->loop] {
                g_main_context_push_thread_default(context);
                g_main_loop_run(loop);
                // Lets the cancelled listeners finish, so nothing of theirs is left behind.
                while (g_main_context_iteration(context, FALSE)) {
                }
                g_main_context_pop_thread_default(context);
            });
            impl.nodes.push_back(std::move(node));
            if (drive.attached) impl.Plug(*impl.nodes.back());
        }
    } catch (...) {
        impl.Shutdown();
        g_object_unref(impl.testbed);
        s_testbedAlive = false;
        throw;
    }
}

void VirtualTestbed::Impl::Plug(Node& node) {
    const VirtualDrive& drive = node.drive;
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, SysfsText(drive, node.index).c_str(), &error)) {
        throw VirtualTestbedError("cannot add " + drive.name +
                                  " to the testbed: " + TakeError(error));
    }
    // Real sysfs links a disk to its SCSI device; the enumeration reads device/type.
    const std::string blockPath = "/sys" + ScsiDevicePath(node.index) + "/block/" + drive.name;
    const std::string scsiName = std::to_string(node.index) + ":0:0:0";
    umockdev_testbed_set_attribute_link(testbed, blockPath.c_str(), "device",
                                        ("../../../" + scsiName).c_str());
    if (drive.openReadWriteFails) {
        const std::filesystem::path file = root + node.devnode;
        std::filesystem::remove(file);
        std::filesystem::create_directory(file);
    } else {
        node.handler = umockdev_ioctl_base_new();
        g_signal_connect(node.handler, "handle-ioctl", G_CALLBACK(Impl::OnIoctl), &node);
        g_signal_connect(node.handler, "client-connected", G_CALLBACK(Impl::OnConnected), &node);
        // What umockdev_testbed_attach_ioctl does, but on the device's own main context.
        const std::string socket = root + "/ioctl" + node.devnode;
        std::filesystem::create_directories(std::filesystem::path(socket).parent_path());
        // Registered from the device's own thread: there umockdev starts listening at once,
        // while from another thread it queues a callback whose closure it does not keep alive.
        CallInLoop(node.context, [&node, &socket] {
            umockdev_ioctl_base_register_path(node.handler, node.context, node.devnode.c_str(),
                                              socket.c_str());
        });
    }
    node.attached = true;
}

void VirtualTestbed::Impl::Unplug(Node& node) {
    if (node.handler != nullptr) {
        umockdev_ioctl_base_unregister_path(node.handler, node.devnode.c_str());
        g_object_unref(node.handler);
        node.handler = nullptr;
    }
    // umockdev removes one device at a time, children first.
    const std::string scsi = "/sys" + ScsiDevicePath(node.index);
    umockdev_testbed_remove_device(testbed, (scsi + "/block/" + node.drive.name).c_str());
    umockdev_testbed_remove_device(testbed, scsi.c_str());
    umockdev_testbed_remove_device(testbed, ("/sys" + UsbDevicePath(node.index)).c_str());
    // umockdev leaves the /sys/block link behind, and a later plug-in would trip over it.
    std::error_code ignored;
    std::filesystem::remove(root + "/sys/block/" + node.drive.name, ignored);
    std::filesystem::remove(root + "/sys/class/block/" + node.drive.name, ignored);
    node.attached = false;
}

void VirtualTestbed::Impl::Shutdown() {
    for (auto& node : nodes) {
        if (node->handler != nullptr) {
            umockdev_ioctl_base_unregister_path(node->handler, node->devnode.c_str());
            g_object_unref(node->handler);
            node->handler = nullptr;
        }
        // Quit from inside the loop: a quit that came before the thread entered
        // g_main_loop_run would be forgotten, and the join would wait for ever.
        CallInLoop(node->context, [loop = node->loop] { g_main_loop_quit(loop); });
        node->thread.join();
        g_main_loop_unref(node->loop);
        g_main_context_unref(node->context);
    }
    nodes.clear();
}

VirtualTestbed::~VirtualTestbed() {
    if (!m_impl) {
        return;
    }
    m_impl->Shutdown();
    g_object_unref(m_impl->testbed);
    s_testbedAlive = false;
}

void VirtualTestbed::Attach(const std::string& name) {
    Node& node = m_impl->Find(name);
    if (!node.attached) m_impl->Plug(node);
}

void VirtualTestbed::Detach(const std::string& name) {
    Node& node = m_impl->Find(name);
    if (node.attached) m_impl->Unplug(node);
}

VirtualDrive VirtualTestbed::FixedDisk(std::string name) {
    VirtualDrive drive;
    drive.name = std::move(name);
    drive.kind = VirtualDriveKind::Fixed;
    return drive;
}

VirtualDrive VirtualTestbed::UpgradeDevice(std::string name, DeviceConfig config,
                                           FaultScript faults, VirtualDriveKind kind) {
    VirtualDrive drive;
    drive.name = std::move(name);
    drive.kind = kind;
    drive.config = std::move(config);
    drive.faults = faults;
    return drive;
}

VirtualDrive VirtualTestbed::OrdinaryDrive(std::string name, VirtualDriveKind kind) {
    VirtualDrive drive;
    drive.name = std::move(name);
    drive.kind = kind;
    drive.config.answersVendorCommands = false;
    return drive;
}

const std::string& VirtualTestbed::RootDir() const {
    return m_impl->root;
}

void VirtualTestbed::WithModel(const std::string& name,
                               const std::function<void(DeviceModel&)>& f) {
    std::lock_guard lock(m_impl->mutex);
    f(m_impl->Find(name).model);
}

std::vector<LoggedRequest> VirtualTestbed::Log(const std::string& name) {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->Find(name).model.Log();
}

std::vector<std::uint8_t> VirtualTestbed::Flash(const std::string& name) {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->Find(name).model.FlashImage();
}

unsigned VirtualTestbed::OpenCount(const std::string& name) {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->Find(name).opens;
}

unsigned VirtualTestbed::RefusedIoctls(const std::string& name) {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->Find(name).refusedIoctls;
}
