#pragma once
// The Channel box accepts an unsigned decimal integer, read the way the dialog framework reads
// one: the first 31 characters, blanks and tabs around the number, a leading "+" allowed, "-"
// refused, 0 only when the text starts with "0", too large a number saturating at 4294967295.

#include <cstdint>
#include <optional>
#include <string_view>

inline constexpr char kMsgChannelInvalid[] = "“请填入一个正整数。”";

std::optional<std::uint32_t> ParseChannelText(std::string_view text);
