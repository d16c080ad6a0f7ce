#pragma once
// The three primitives a release signature needs, from a well-kept library (GNU Nettle; on
// Windows the same library cross-built), one implementation per platform chosen by CMake.
// Nothing here is written by us but the calls.

#include <array>
#include <cstddef>
#include <cstdint>

namespace ReleaseCrypto {

constexpr std::size_t kEd25519KeySize = 32;
constexpr std::size_t kEd25519SignatureSize = 64;

// False in a build without the library (a Windows build made without the cross-built Nettle):
// no signature can be checked there, and every run that asks for one is refused.
bool Available();

std::array<std::uint8_t, 32> Sha256(const std::uint8_t* data, std::size_t size);
std::array<std::uint8_t, 64> Sha512(const std::uint8_t* data, std::size_t size);
// True when signature (64 bytes) is key's (32 bytes) Ed25519 signature of message.
bool Ed25519Verify(const std::uint8_t* key, const std::uint8_t* message, std::size_t size,
                   const std::uint8_t* signature);

}  // namespace ReleaseCrypto
