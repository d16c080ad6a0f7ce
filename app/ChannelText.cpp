#include "app/ChannelText.h"

#include <limits>

namespace {

constexpr std::size_t kChannelTextLimit = 31;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<std::uint32_t> ParseChannelText(std::string_view text) {
    text = text.substr(0, kChannelTextLimit);
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    const bool startsWithZero = i < text.size() && text[i] == '0';
    if (i < text.size() && text[i] == '-') return std::nullopt;
    if (i < text.size() && text[i] == '+') ++i;

    std::uint64_t value = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    while (i < text.size() && IsDigit(text[i])) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > kMax) value = kMax;  // saturate, never refuse
        ++i;
    }
    while (i < text.size() && IsBlank(text[i])) ++i;
    if (i != text.size()) return std::nullopt;
    if (value == 0 && !startsWithZero) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}
