// SHA-256, SHA-512 and Ed25519 verification through GNU Nettle and its public-key half,
// hogweed, linked statically like the record files' hash (no shared library to load at start).
#include <nettle/eddsa.h>
#include <nettle/sha2.h>

#include "image/ReleaseCrypto.h"

namespace ReleaseCrypto {

bool Available() {
    return true;
}

std::array<std::uint8_t, 32> Sha256(const std::uint8_t* data, std::size_t size) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, size, data);
    std::array<std::uint8_t, 32> digest{};
    sha256_digest(&context, digest.size(), digest.data());
    return digest;
}

std::array<std::uint8_t, 64> Sha512(const std::uint8_t* data, std::size_t size) {
    sha512_ctx context;
    sha512_init(&context);
    sha512_update(&context, size, data);
    std::array<std::uint8_t, 64> digest{};
    sha512_digest(&context, digest.size(), digest.data());
    return digest;
}

bool Ed25519Verify(const std::uint8_t* key, const std::uint8_t* message, std::size_t size,
                   const std::uint8_t* signature) {
    return ed25519_sha512_verify(key, size, message, signature) != 0;
}

}  // namespace ReleaseCrypto
