// SHA-256 through GNU Nettle (the cryptographic library under GnuTLS), linked statically: the
// hash is all we need of it, and a shared library costs every kestrel-cli start its loading.
#include <nettle/sha2.h>

#include "line/Sha256.h"

struct Sha256::State {
    sha256_ctx context;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    sha256_init(&m_state->context);
}

Sha256::~Sha256() = default;

void Sha256::Update(const std::uint8_t* data, std::size_t size) {
    sha256_update(&m_state->context, size, data);
}

std::array<std::uint8_t, 32> Sha256::Finish() {
    std::array<std::uint8_t, 32> digest{};
    sha256_digest(&m_state->context, SHA256_DIGEST_SIZE, digest.data());
    return digest;
}
