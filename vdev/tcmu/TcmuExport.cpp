#include "vdev/tcmu/TcmuExport.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

void MakeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0) Fail("cannot create", path, errno);
}

// configfs attributes take one write each; a short or failed write means the kernel refused.
void WriteAttribute(const std::string& path, const std::string& value) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open", path, errno);
    const ssize_t n = ::write(fd, value.data(), value.size());
    const int error = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(value.size()))
        Fail("kernel refused \"" + value + "\" for", path, n < 0 ? error : EIO);
}

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// A WWN in the NAA 5 form tcm_loop accepts: the IEEE company id of the Linux target stack's
// examples followed by 36 random bits, so two doors never collide.
std::string RandomWwn(std::mt19937_64& random) {
    std::ostringstream out;
    out << "naa.5001405" << std::hex;
    out.width(9);
    out.fill('0');
    out << (random() & 0xFFFFFFFFFull);
    return out.str();
}

}  // namespace

TcmuExport::TcmuExport(std::string name, std::uint64_t sizeBytes)
    : m_name(std::move(name)), m_sizeBytes(sizeBytes) {}

TcmuExport::~TcmuExport() {
    try {
        RemoveTarget();
        RemoveBackstore();
    } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch): best effort on the way out
    }
}

void TcmuExport::CreateBackstore() {
    const std::string root = kTargetRoot;
    if (!fs::is_directory(root + "/core"))
        throw std::runtime_error(root +
                                 "/core is missing: mount configfs on /sys/kernel/config "
                                 "and load target_core_user and tcm_loop (as root)");
    // The first free user_N: mkdir is atomic, so two doors starting together take different ones.
    for (int n = 0; m_hbaDir.empty(); ++n) {
        const std::string dir = root + "/core/user_" + std::to_string(n);
        if (::mkdir(dir.c_str(), 0755) == 0) {
            m_hbaDir = dir;
        } else if (errno != EEXIST || n >= 1000) {
            Fail("cannot create", dir, errno);
        }
    }
    m_deviceDir = m_hbaDir + "/" + m_name;
    MakeDir(m_deviceDir);  // the name must be a plain file name; configfs refuses anything else
    WriteAttribute(m_deviceDir + "/control", "dev_config=kestrel/" + m_name);
    WriteAttribute(m_deviceDir + "/control", "dev_size=" + std::to_string(m_sizeBytes));
    WriteAttribute(m_deviceDir + "/enable", "1");
}

std::string TcmuExport::UioName() const {
    // The uio device's name is "tcm-user/<hba>/<name>/<dev_config>".
    const std::string hba = m_hbaDir.substr(m_hbaDir.rfind('_') + 1);
    const std::string wanted = "tcm-user/" + hba + "/" + m_name + "/";
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/uio", ec)) {
        const std::string name = ReadFirstLine(entry.path().string() + "/name");
        if (name.rfind(wanted, 0) == 0) return entry.path().filename().string();
    }
    throw std::runtime_error("no uio device named " + wanted + "* under /sys/class/uio");
}

std::string TcmuExport::UioDevicePath() const {
    return "/dev/" + UioName();
}

std::size_t TcmuExport::UioMapSize() const {
    const std::string path = "/sys/class/uio/" + UioName() + "/maps/map0/size";
    const std::string text = ReadFirstLine(path);
    const std::size_t size = std::strtoull(text.c_str(), nullptr, 0);
    if (size == 0) throw std::runtime_error("cannot read the map size from " + path);
    return size;
}

void TcmuExport::LinkLun() {
    std::mt19937_64 random(std::random_device{}() ^ static_cast<std::uint64_t>(::getpid()) << 20);
    const std::string loopback = std::string(kTargetRoot) + "/loopback";
    if (!fs::is_directory(loopback)) {
        std::error_code ec;
        fs::create_directory(loopback, ec);  // configfs loads tcm_loop's group on first mkdir
        if (!fs::is_directory(loopback))
            throw std::runtime_error(loopback + " is missing: load tcm_loop (modprobe tcm_loop)");
    }
    m_wwnDir = loopback + "/" + RandomWwn(random);
    MakeDir(m_wwnDir);
    m_tpgDir = m_wwnDir + "/tpgt_1";
    MakeDir(m_tpgDir);
    WriteAttribute(m_tpgDir + "/nexus", RandomWwn(random));
    m_nexus = true;
    m_lunDir = m_tpgDir + "/lun/lun_0";
    MakeDir(m_lunDir);
    m_lunLink = m_lunDir + "/" + m_name;
    if (::symlink(m_deviceDir.c_str(), m_lunLink.c_str()) != 0)
        Fail("cannot link", m_lunLink, errno);
    m_linked = true;
}

std::string TcmuExport::WaitForDisk(std::chrono::milliseconds limit) const {
    // tcm_loop reports "host:0:target"; the LUN is 0, and sd attaches asynchronously.
    const std::string address = ReadFirstLine(m_tpgDir + "/address");
    const std::string blockDir = "/sys/bus/scsi/devices/" + address + ":0/block";
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(blockDir, ec))
            return "/dev/" + entry.path().filename().string();
        if (std::chrono::steady_clock::now() >= deadline)
            throw std::runtime_error(std::string("sd did not attach ")
                                         .append(address)
                                         .append(":0 in time (")
                                         .append(blockDir)
                                         .append(" stays empty)"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void TcmuExport::UnlinkLun() {
    if (!m_linked) return;
    m_linked = false;
    if (::unlink(m_lunLink.c_str()) != 0) Fail("cannot unlink", m_lunLink, errno);
    if (::rmdir(m_lunDir.c_str()) != 0) Fail("cannot remove", m_lunDir, errno);
}

void TcmuExport::RemoveTarget() {
    if (m_wwnDir.empty()) return;
    UnlinkLun();
    if (m_nexus) {
        m_nexus = false;
        WriteAttribute(m_tpgDir + "/nexus", "NULL");
    }
    if (::rmdir(m_tpgDir.c_str()) != 0) Fail("cannot remove", m_tpgDir, errno);
    const std::string wwn = m_wwnDir;
    m_wwnDir.clear();
    if (::rmdir(wwn.c_str()) != 0) Fail("cannot remove", wwn, errno);
}

void TcmuExport::RemoveBackstore() {
    if (m_deviceDir.empty()) return;
    const std::string device = m_deviceDir;
    m_deviceDir.clear();
    // ENOENT: the setup stopped before creating it.
    if (::rmdir(device.c_str()) != 0 && errno != ENOENT) Fail("cannot remove", device, errno);
    const std::string hba = m_hbaDir;
    m_hbaDir.clear();
    if (::rmdir(hba.c_str()) != 0 && errno != ENOENT) Fail("cannot remove", hba, errno);
}
