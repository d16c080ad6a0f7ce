#include "vdev/wine/WineBridge.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

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

}  // namespace

std::vector<WineDriveLetter> AssignWineLetters(const std::vector<VirtualDrive>& drives) {
    std::vector<VirtualDrive> ordered = drives;
    std::stable_sort(ordered.begin(), ordered.end(), SearchesBefore);
    if (ordered.size() > 'Y' - 'D' + 1)
        throw VirtualTestbedError("too many virtual drives for the letters D: to Y:");
    std::vector<WineDriveLetter> letters;
    char letter = 'D';
    for (const VirtualDrive& drive : ordered) {
        letters.push_back({letter++, drive.name, drive.kind});
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
    m_letters = AssignWineLetters(drives);
    std::vector<std::string> args = {"set"};
    for (const WineDriveLetter& l : m_letters) {
        // The drive's root folder only has to exist; the device path is what the product opens.
        const fs::path folder = fs::path(testbedRoot) / "wine" / std::string(1, l.letter);
        fs::create_directories(folder);
        args.insert(args.end(), {std::string(1, l.letter), KindName(l.kind), folder.string(),
                                 testbedRoot + "/dev/" + l.drive});
    }
    if (RunHelper(args) != 0) {
        m_letters.clear();
        throw VirtualTestbedError(
            "cannot define the virtual drives in the Wine prefix (is "
            "WINEPREFIX's server running?)");
    }
}

void WineBridge::Detach() {
    if (m_letters.empty()) return;
    std::vector<std::string> args = {"remove"};
    for (const WineDriveLetter& l : m_letters) args.emplace_back(1, l.letter);
    m_letters.clear();
    RunHelper(args);
}
