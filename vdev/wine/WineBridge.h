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
};

// Letters for the drives, D: first, in the Linux search order.
std::vector<WineDriveLetter> AssignWineLetters(const std::vector<VirtualDrive>& drives);

class WineBridge {
public:
    // Finds the helper program and the preload library (beside this program, in
    // ../lib/kestrel, or where KESTREL_WINE_DRIVES and KESTREL_WINE_SGIO say); throws
    // VirtualTestbedError when one is missing.
    WineBridge();

    // Defines the letters for the testbed's drives; throws VirtualTestbedError on failure.
    void Attach(const std::string& testbedRoot, const std::vector<VirtualDrive>& drives);
    // Removes the letters Attach defined; quiet when there are none.
    void Detach();
    ~WineBridge();
    WineBridge(const WineBridge&) = delete;
    WineBridge& operator=(const WineBridge&) = delete;

    // What the Windows program's LD_PRELOAD must start with, before umockdev's library.
    const std::string& PreloadLibrary() const { return m_preload; }

private:
    int RunHelper(const std::vector<std::string>& args);

    std::string m_helper;
    std::string m_preload;
    std::vector<WineDriveLetter> m_letters;
};
