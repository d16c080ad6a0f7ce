#include "vdev/wine/WineBridge.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "vdev/ScsiResponder.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kHelperName = "kestrel-wine-drives.exe";
constexpr const char* kPreloadName = "libkestrel-wine-sgio.so";

// The Linux search order: sd disks by name length then name, then sr drives by number.
bool SearchesBefore(const VirtualDrive& a, const VirtualDrive& b) {
    const bool aCd = a.name.rfind("sr", 0) == 0;
    const bool bCd = b.name.rfind("sr", 0) == 0;
    if (aCd != bCd) return !aCd;
    if (aCd) return std::stoul(a.name.substr(2)) < std::stoul(b.name.substr(2));
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.name < b.name;
}

const char* KindName(VirtualDriveKind kind) {
    switch (kind) {
        case VirtualDriveKind::Fixed:
            return "fixed";
        case VirtualDriveKind::Removable:
            return "removable";
        case VirtualDriveKind::CdRom:
            return "cdrom";
    }
    return "fixed";
}

// KESTREL_WINE_... when set, else beside this program, else in ../lib/kestrel.
std::string Locate(const char* variable, const char* name) {
    if (const char* given = std::getenv(variable); given != nullptr && *given != '\0') {
        if (!fs::exists(given))
            throw VirtualTestbedError(std::string(variable) + " names " + given +
                                      ", which does not exist");
        return given;
    }
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    for (const fs::path& dir :
         {self.parent_path(), self.parent_path() / ".." / "lib" / "kestrel"}) {
        if (!ec && fs::exists(dir / name)) return fs::weakly_canonical(dir / name).string();
    }
    throw VirtualTestbedError(std::string("cannot find ") + name + " beside kestrel-vdev; set " +
                              variable);
}

bool SerialFitsInstance(const std::string& serial) {
    return !serial.empty() && std::all_of(serial.begin(), serial.end(), [](char c) {
        return c > 0x20 && c < 0x7F && c != '&' && c != '\\' && c != '#';
    });
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string Underscored(std::string text) {
    std::replace(text.begin(), text.end(), ' ', '_');
    return text;
}

// "Port_#0003.Hub_#0002" for "2-1.3": the last port on the path and the bus; "" for a path
// that is not one.
std::string LocationOf(const std::string& port) {
    const auto dash = port.find('-');
    const auto last = port.find_last_of("-.");
    unsigned long bus = 0;
    unsigned long number = 0;
    try {
        bus = std::stoul(port.substr(0, dash));
        number = std::stoul(port.substr(last == std::string::npos ? 0 : last + 1));
    } catch (const std::exception&) {
        return {};
    }
    char text[48];
    std::snprintf(text, sizeof text, "Port_#%04lu.Hub_#%04lu", number, bus);
    return text;
}

}  // namespace

std::vector<WineDriveLetter> AssignWineLetters(const std::vector<VirtualDrive>& drives) {
    std::vector<VirtualDrive> ordered = drives;
    // The USB port each drive sits on, as the umockdev door numbers them (by position).
    std::map<std::string, std::string> ports;
    for (std::size_t i = 0; i < drives.size(); ++i)
        ports[drives[i].name] =
            drives[i].usbPort.empty() ? "2-" + std::to_string(i + 1) : drives[i].usbPort;
    std::stable_sort(ordered.begin(), ordered.end(), SearchesBefore);
    if (ordered.size() > 'Y' - 'D' + 1)
        throw VirtualTestbedError("too many virtual drives for the letters D: to Y:");
    std::vector<WineDriveLetter> letters;
    char letter = 'D';
    for (const VirtualDrive& drive : ordered) {
        WineDriveLetter entry{letter++, drive.name, drive.kind, {}, {}, {}};
        if (SerialFitsInstance(drive.serial)) {
            entry.usbInstance = "USB\\VID_" + Upper(drive.usbVendorId) + "&PID_" +
                                Upper(drive.usbProductId) + "\\" + drive.serial;
            entry.diskInstance = std::string("USBSTOR\\Disk&Ven_") + Underscored(kLunVendor) +
                                 "&Prod_" + Underscored(kLunProduct) + "&Rev_" +
                                 Underscored(kLunRevision) + "\\" + drive.serial + "&0";
            entry.location = LocationOf(ports[drive.name]);
        }
        letters.push_back(entry);
    }
    return letters;
}

WineBridge::WineBridge()
    : m_helper(Locate("KESTREL_WINE_DRIVES", kHelperName)),
      m_preload(Locate("KESTREL_WINE_SGIO", kPreloadName)) {}

WineBridge::~WineBridge() {
    Detach();
}

// Runs the helper under wine, outside the testbed: no preload, no UMOCKDEV_DIR.
int WineBridge::RunHelper(const std::vector<std::string>& args) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("LD_PRELOAD=", 0) != 0 && entry.rfind("UMOCKDEV_DIR=", 0) != 0)
            env.push_back(entry);
    }
    std::vector<std::string> argv = {"wine", m_helper};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    std::vector<char*> envp;
    argp.reserve(argv.size() + 1);
    envp.reserve(env.size() + 1);
    for (auto& a : argv) argp.push_back(a.data());
    for (auto& e : env) envp.push_back(e.data());
    argp.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "wine", nullptr, nullptr, argp.data(), envp.data()) != 0) return 127;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

void WineBridge::Attach(const std::string& testbedRoot, const std::vector<VirtualDrive>& drives) {
    m_root = testbedRoot;
    m_letters = AssignWineLetters(drives);
    std::vector<const WineDriveLetter*> plugged;
    for (const WineDriveLetter& l : m_letters) {
        const auto drive = std::find_if(drives.begin(), drives.end(),
                                        [&](const VirtualDrive& d) { return d.name == l.drive; });
        if (drive != drives.end() && drive->attached) plugged.push_back(&l);
    }
    if (!Define(plugged)) {
        Detach();
        throw VirtualTestbedError(
            "cannot define the virtual drives in the Wine prefix (is "
            "WINEPREFIX's server running?)");
    }
}

const WineDriveLetter* WineBridge::LetterOf(const std::string& drive) const {
    for (const WineDriveLetter& l : m_letters)
        if (l.drive == drive) return &l;
    return nullptr;
}

bool WineBridge::Plug(const std::string& drive) {
    const WineDriveLetter* letter = LetterOf(drive);
    if (letter == nullptr ||
        std::find(m_defined.begin(), m_defined.end(), letter->letter) != m_defined.end())
        return true;
    return Define({letter}) &&
           RunHelper({"announce", "arrival", std::string(1, letter->letter)}) == 0;
}

bool WineBridge::Unplug(const std::string& drive) {
    const WineDriveLetter* letter = LetterOf(drive);
    if (letter == nullptr ||
        std::find(m_defined.begin(), m_defined.end(), letter->letter) == m_defined.end())
        return true;
    return Remove({letter}) &&
           RunHelper({"announce", "removal", std::string(1, letter->letter)}) == 0;
}

// The letters first, then the USB devices Windows would know them by.
bool WineBridge::Define(const std::vector<const WineDriveLetter*>& letters) {
    if (letters.empty()) return true;
    std::vector<std::string> set = {"set"};
    std::vector<std::string> usb = {"usb"};
    for (const WineDriveLetter* l : letters) {
        // The drive's root folder only has to exist; the device path is what the product opens.
        const fs::path folder = fs::path(m_root) / "wine" / std::string(1, l->letter);
        fs::create_directories(folder);
        set.insert(set.end(), {std::string(1, l->letter), KindName(l->kind), folder.string(),
                               m_root + "/dev/" + l->drive});
        if (!l->usbInstance.empty())
            usb.insert(usb.end(),
                       {std::string(1, l->letter), l->usbInstance, l->diskInstance, l->location});
    }
    if (RunHelper(set) != 0) return false;
    for (const WineDriveLetter* l : letters) m_defined.push_back(l->letter);
    return usb.size() == 1 || RunHelper(usb) == 0;
}

bool WineBridge::Remove(const std::vector<const WineDriveLetter*>& letters) {
    if (letters.empty()) return true;
    std::vector<std::string> forget = {"forget"};
    std::vector<std::string> remove = {"remove"};
    for (const WineDriveLetter* l : letters) {
        if (!l->usbInstance.empty()) forget.insert(forget.end(), {l->usbInstance, l->diskInstance});
        remove.emplace_back(1, l->letter);
        m_defined.erase(std::remove(m_defined.begin(), m_defined.end(), l->letter),
                        m_defined.end());
    }
    const bool forgotten = forget.size() == 1 || RunHelper(forget) == 0;
    return RunHelper(remove) == 0 && forgotten;
}

void WineBridge::Detach() {
    std::vector<const WineDriveLetter*> defined;
    for (const WineDriveLetter& l : m_letters)
        if (std::find(m_defined.begin(), m_defined.end(), l.letter) != m_defined.end())
            defined.push_back(&l);
    Remove(defined);
    m_defined.clear();
}
