#pragma once
// The configfs side of the TCMU door: a target_core_user backstore, and a tcm_loop target whose
// LUN 0 exports it to the local SCSI stack, where sd attaches it as /dev/sdX. Needs root, configfs
// mounted, and the target_core_user and tcm_loop modules. Every step that fails throws
// std::runtime_error naming the path and the OS cause.

#include <chrono>
#include <cstdint>
#include <string>

class TcmuExport {
public:
    static constexpr const char* kTargetRoot = "/sys/kernel/config/target";

    // name: the backstore's name (also the uio device's), sizeBytes: what the LUN reports.
    TcmuExport(std::string name, std::uint64_t sizeBytes);
    ~TcmuExport();  // best effort teardown of whatever is still set up
    TcmuExport(const TcmuExport&) = delete;
    TcmuExport& operator=(const TcmuExport&) = delete;

    // Creates and enables the backstore; afterwards its uio device exists.
    void CreateBackstore();
    // The uio node of the backstore ("/dev/uio0") and the size of its map.
    std::string UioDevicePath() const;
    std::size_t UioMapSize() const;

    // Creates the tcm_loop target and the nexus, then links the LUN. The link makes the kernel
    // scan the LUN, so the ring must already be served when this is called.
    void LinkLun();
    // Waits until sd has attached the LUN and returns its /dev path.
    std::string WaitForDisk(std::chrono::milliseconds limit) const;

    // Removes the LUN from the SCSI stack: the kernel sees the device go away, as on unplug.
    void UnlinkLun();
    // Removes the tcm_loop target (unlinking first when needed). The ring must still be served.
    void RemoveTarget();
    // Removes the backstore; the uio device must be closed by then.
    void RemoveBackstore();

private:
    std::string UioName() const;

    std::string m_name;
    std::uint64_t m_sizeBytes;
    std::string m_hbaDir;     // core/user_N
    std::string m_deviceDir;  // core/user_N/NAME
    std::string m_wwnDir;     // loopback/naa.X
    std::string m_tpgDir;     // loopback/naa.X/tpgt_1
    std::string m_lunDir;     // .../lun/lun_0
    std::string m_lunLink;    // .../lun/lun_0/NAME
    bool m_linked = false;
    bool m_nexus = false;
};
