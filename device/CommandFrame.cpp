#include "device/CommandFrame.h"

std::uint8_t XorCheck(const std::uint8_t* bytes, std::size_t n)
{
    std::uint8_t check = 0;
    for (std::size_t i = 0; i < n; ++i) check ^= bytes[i];
    return check;
}

CommandFrame::CommandFrame(std::uint8_t code, std::uint8_t p0, std::uint8_t p1, std::uint8_t p2)
    : m_bytes{kFrameMark, 0x00, code, p0, p1, p2, static_cast<std::uint8_t>(code ^ p0 ^ p1 ^ p2),
              kFrameMark}
{
}

CommandFrame CommandFrame::Query()
{
    return CommandFrame(kCmdQuery, 0, 0, 0);
}

CommandFrame CommandFrame::Start(std::uint16_t startBlock, std::uint16_t endBlock)
{
    const auto p0 = static_cast<std::uint8_t>(startBlock >> 4);
    const auto p1 = static_cast<std::uint8_t>(((startBlock & 0x0F) << 4) + (endBlock >> 8));
    const auto p2 = static_cast<std::uint8_t>(endBlock & 0xFF);
    return CommandFrame(kCmdStart, p0, p1, p2);
}
