#pragma once
// kestrel-vdev --wine: shows the testbed's drives to a Windows program under Wine.
//
// Each virtual drive becomes a drive letter from D: on, in the order the Linux search visits
// them (sd disks by name, then sr drives), of the same kind (a fixed disk stays fixed), with its
// "\\.\E:" device path on the testbed's node. The letters are defined in the running Wine server
// of $WINEPREFIX by kestrel-wine-drives.exe and removed again afterwards; the Windows program
// gets libkestrel-wine-sgio.so preloaded so that its SG_IO reaches the device model.

#include <string>
#include <vector>

#include "vdev/VirtualTestbed.h"

struct WineDriveLetter {
    char letter = 'D';
    std::string drive;  // the testbed's name: "sdb"
    VirtualDriveKind kind = VirtualDriveKind::Removable;
    // How Windows would know the drive's USB device and disk, and the port's location; empty
    // for a drive without a serial Windows could name (see WineUsbIdentity).
    std::string usbInstance;   // "USB\VID_1D6B&PID_0104\KV0001"
    std::string diskInstance;  // "USBSTOR\Disk&Ven_KESTREL&Prod_Virtual_Device&Rev_1.00\KV0001&0"
    std::string location;      // "Port_#0001.Hub_#0002" for the Linux port "2-1"
};

// Letters for the drives, D: first, in the Linux search order, each with the USB identity
// Windows would give it: its ids and serial as the instance paths, and its port ("2-3.1": bus
// 2, last port 1) as the location. A serial Windows could not put in an instance path (a
// byte outside printable ASCII, '&', '\\') leaves the drive without one, as a USB device
// with no usable serial is on Windows.
std::vector<WineDriveLetter> AssignWineLetters(const std::vector<VirtualDrive>& drives);

class WineBridge {
public:
    // Finds the helper program and the preload library (beside this program, in
    // ../lib/kestrel, or where KESTREL_WINE_DRIVES and KESTREL_WINE_SGIO say); throws
    // VirtualTestbedError when one is missing.
    WineBridge();

    // Gives every testbed drive its letter and defines those of the drives plugged in at the
    // start; throws VirtualTestbedError on failure.
    void Attach(const std::string& testbedRoot, const std::vector<VirtualDrive>& drives);
    // A drive plugged in or pulled out later: its letter (and USB identity) comes or goes, and
    // the running programs are told with WM_DEVICECHANGE, as Windows' mount manager tells them,
    // once the drive is complete. False when the helper failed.
    bool Plug(const std::string& drive);
    bool Unplug(const std::string& drive);
    // Removes every letter still defined; quiet when there are none.
    void Detach();
    ~WineBridge();
    WineBridge(const WineBridge&) = delete;
    WineBridge& operator=(const WineBridge&) = delete;

    // What the Windows program's LD_PRELOAD must start with, before umockdev's library.
    const std::string& PreloadLibrary() const { return m_preload; }

private:
    bool Define(const std::vector<const WineDriveLetter*>& letters);
    bool Remove(const std::vector<const WineDriveLetter*>& letters);
    const WineDriveLetter* LetterOf(const std::string& drive) const;
    int RunHelper(const std::vector<std::string>& args);

    std::string m_helper;
    std::string m_preload;
    std::string m_root;
    std::vector<WineDriveLetter> m_letters;
    std::vector<char> m_defined;
};
