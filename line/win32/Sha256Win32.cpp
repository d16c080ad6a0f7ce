// SHA-256 through the OS's Cryptography API: Next Generation (bcrypt.dll).
#include <windows.h>

#include <bcrypt.h>

#include <stdexcept>

#include "line/Sha256.h"

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {
    if (BCryptOpenAlgorithmProvider(&m_state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
        BCryptCreateHash(m_state->algorithm, &m_state->hash, nullptr, 0, nullptr, 0, 0) < 0)
        throw std::runtime_error("BCrypt cannot start a SHA-256 hash");
}

Sha256::~Sha256() {
    if (m_state->hash != nullptr) BCryptDestroyHash(m_state->hash);
    if (m_state->algorithm != nullptr) BCryptCloseAlgorithmProvider(m_state->algorithm, 0);
}

void Sha256::Update(const std::uint8_t* data, std::size_t size) {
    // BCryptHashData takes at most 4 GiB a call; callers pass small chunks.
    BCryptHashData(m_state->hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0);
}

std::array<std::uint8_t, 32> Sha256::Finish() {
    std::array<std::uint8_t, 32> digest{};
    BCryptFinishHash(m_state->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    return digest;
}
