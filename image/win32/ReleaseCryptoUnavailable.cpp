// A Windows build without the cross-built Nettle (scripts/mingw-deps): no release signature can
// be checked, so a run that asks for one is refused rather than passed unchecked.
#include "image/ReleaseCrypto.h"

namespace ReleaseCrypto {

bool Available() {
    return false;
}

std::array<std::uint8_t, 32> Sha256(const std::uint8_t*, std::size_t) {
    return {};
}

std::array<std::uint8_t, 64> Sha512(const std::uint8_t*, std::size_t) {
    return {};
}

bool Ed25519Verify(const std::uint8_t*, const std::uint8_t*, std::size_t, const std::uint8_t*) {
    return false;
}

}  // namespace ReleaseCrypto
