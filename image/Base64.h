#pragma once
// Base64 as OpenSSH writes it in keys, signatures and fingerprints (RFC 4648, standard
// alphabet). Not cryptography: only how the bytes are spelled.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The bytes of text, whose white space (line breaks of an armored block) is passed over; nothing
// for any other character outside the alphabet, or padding in the wrong place.
std::optional<std::vector<std::uint8_t>> Base64Decode(const std::string& text);
// The text of bytes; padded with '=' unless pad is false (as in "SHA256:..." fingerprints).
std::string Base64Encode(const std::uint8_t* data, std::size_t size, bool pad = true);
