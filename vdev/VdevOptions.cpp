#include "vdev/VdevOptions.h"

#include <array>
#include <cstdint>

namespace {

// "41:42:43:44:45" or "4142434445" into exactly N bytes.
template <std::size_t N>
std::array<std::uint8_t, N> ParseHexBytes(const std::string& text, const char* what) {
    std::string digits;
    for (char c : text) {
        if (c != ':' && c != ' ') {
            digits += c;
        }
    }
    if (digits.size() != 2 * N ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        throw CLI::ValidationError(
            what, "expected " + std::to_string(N) + " hex bytes, got '" + text + "'");
    }
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N; ++i) {
        bytes[i] = static_cast<std::uint8_t>(std::stoul(digits.substr(2 * i, 2), nullptr, 16));
    }
    return bytes;
}

}  // namespace

void VdevDeviceOptions::AddTo(CLI::App& app) {
    m_boot = config.bootType;
    auto device = app.add_option_group("Device");
    device->add_option("--family", config.family, "chip family, 2 characters (reply bytes 17-18)")
        ->capture_default_str();
    device->add_option("--chip-id", m_chipId,
                       "chip identification, 5 hex bytes (41:42:43:44:45: bytes 19-21, 23-24)");
    device->add_option("--boot", m_boot, "boot type (reply byte 22)")
        ->check(CLI::Range(0, 255))
        ->capture_default_str();
    device->add_option("--fw-version", config.version, "firmware version, up to 8 characters")
        ->capture_default_str();
    device->add_flag("--empty-version", m_emptyVersion, "the device holds no program");
    device->add_option("--header", m_header, "query reply header, 8 hex bytes");
    device->add_flag("--zero-header", m_zeroHeader, "all-zero query reply header");
    device->add_flag("--not-device", m_notDevice,
                     "an ordinary drive: the vendor commands are refused (ILLEGAL REQUEST)");

    auto fault = app.add_option_group("Faults");
    fault->add_option("--fail-command", faults.failCommandAt, "the Nth request fails");
    fault->add_option("--fail-write", faults.failWriteAt, "the Nth write (0x86) fails");
    fault->add_option("--fail-read", faults.failReadAt, "the Nth read (0x85) fails");
    fault->add_option("--bad-status-byte2", faults.badStatusByte2AtBlock,
                      "block status byte 2 is not FF for BLOCK (the block is not kept)");
    fault->add_option("--bad-status-byte2-value", faults.badStatusByte2,
                      "what that byte 2 is (default 0)");
    fault->add_option("--wrong-block-number", faults.wrongBlockNumberAtBlock,
                      "block status names the block before BLOCK");
    fault->add_option("--nonzero-byte5", faults.nonzeroByte5AtBlock,
                      "block status byte 5 is 1 for BLOCK");
    fault->add_option("--unplug-after", faults.unplugAfterBlock,
                      "every request after BLOCK's status fails (ENODEV)");
    fault->add_option("--delay-ms", faults.delayMsPerCommand, "delay per request");
    fault->add_flag("--identify-swapped", faults.identifyAnswersSwapped, "identify answers 55 AA");
    fault->add_flag("--deny-vendor", faults.denyVendorCommands,
                    "every vendor request fails with EPERM, as without CAP_SYS_RAWIO");
}

void VdevDeviceOptions::Finish() {
    if (!m_chipId.empty()) {
        config.chipId = ParseHexBytes<5>(m_chipId, "--chip-id");
    }
    if (!m_header.empty()) {
        config.header = ParseHexBytes<8>(m_header, "--header");
    }
    config.bootType = static_cast<std::uint8_t>(m_boot);
    if (m_emptyVersion) {
        config.version.clear();
    }
    if (m_zeroHeader) {
        config.header.fill(0);
    }
    config.answersVendorCommands = !m_notDevice;
}
