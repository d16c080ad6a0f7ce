#pragma once
// Drive access through kestrel-devio: the helper is started at the first open, with one end of
// a socket pair, and serves this process until it ends (or closes the pair). The helper opens
// and locks the node under this user's own permissions and sends the vendor requests; a
// handle here is the helper's number for the drive.

#include <cstddef>
#include <cstdint>
#include <string>

#include "device/linux/DriveAccess.h"

struct DevioRequest;
struct DevioReply;

class HelperDriveAccess : public DriveAccess {
public:
    explicit HelperDriveAccess(std::string helperPath);
    ~HelperDriveAccess() override;
    HelperDriveAccess(const HelperDriveAccess&) = delete;
    HelperDriveAccess& operator=(const HelperDriveAccess&) = delete;

    DriveHandle Open(const std::string& devicePath, int* osError) override;
    DriveLockResult Lock(DriveHandle handle) override;
    bool Send(DriveHandle handle, const PassThroughRequest& request,
              PassThroughResult& result) override;
    void Close(DriveHandle handle) override;
    std::string OpenFailureHint(int osError) const override;
    std::string OpenRefusal(int osError) const override;
    std::string PrivilegeHint() const override;

private:
    // Starts the helper once; the errno of a start that failed (kept for every later open).
    int Start();
    // One request and its reply, one message each way; the errno of a broken exchange, else 0.
    // out (the data a command sends) and in (room for the data it gets back) travel straight
    // between the caller's buffer and the socket.
    int Exchange(DevioRequest& request, DevioReply& reply, const std::uint8_t* out = nullptr,
                 std::uint8_t* in = nullptr, std::size_t inSize = 0);

    std::string m_path;
    int m_socket = -1;
    int m_pid = -1;
    int m_startError = 0;
    bool m_started = false;
};
