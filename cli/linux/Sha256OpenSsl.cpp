// SHA-256 through OpenSSL's EVP digest interface (libcrypto).
#include <openssl/evp.h>

#include <stdexcept>

#include "cli/Sha256.h"

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    m_state->context = EVP_MD_CTX_new();
    if (m_state->context == nullptr ||
        EVP_DigestInit_ex(m_state->context, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("OpenSSL cannot start a SHA-256 digest");
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(m_state->context);
}

void Sha256::Update(const std::uint8_t* data, std::size_t size) {
    EVP_DigestUpdate(m_state->context, data, size);
}

std::array<std::uint8_t, 32> Sha256::Finish() {
    std::array<std::uint8_t, 32> digest{};
    unsigned size = 0;
    EVP_DigestFinal_ex(m_state->context, digest.data(), &size);
    return digest;
}
