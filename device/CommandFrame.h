#pragma once
// The 8-byte command block of the device protocol: F6 00 code p0 p1 p2 check F6, where the
// check byte is the XOR of code and the three parameters. Sent with one vendor write.

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kCommandFrameSize = 8;
inline constexpr std::uint8_t kFrameMark = 0xF6;
inline constexpr std::uint8_t kCmdQuery = 0xE8;
inline constexpr std::uint8_t kCmdStart = 0xFF;

// XOR of n bytes: the check byte of command frames and of image chunks.
std::uint8_t XorCheck(const std::uint8_t* bytes, std::size_t n);

class CommandFrame {
public:
    CommandFrame(std::uint8_t code, std::uint8_t p0, std::uint8_t p1, std::uint8_t p2);

    // F6 00 E8 00 00 00 E8 F6: asks for chip family, identification, boot type and version.
    static CommandFrame Query();
    // The block range as one big-endian 24-bit value: startBlock in bits 23..12, endBlock in
    // bits 11..0. Both must be below 4096; the protocol only sends ranges within 0..512.
    static CommandFrame Start(std::uint16_t startBlock, std::uint16_t endBlock);

    const std::uint8_t* Data() const { return m_bytes.data(); }
    static constexpr std::uint32_t Size() { return kCommandFrameSize; }
    const std::array<std::uint8_t, kCommandFrameSize>& Bytes() const { return m_bytes; }

private:
    std::array<std::uint8_t, kCommandFrameSize> m_bytes{};
};
