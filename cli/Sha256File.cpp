#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/Sha256.h"

std::optional<std::string> Sha256OfFile(const std::string& path, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Sha256 hash;
    std::vector<std::uint8_t> buffer(1 << 16);
    std::size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0)
        hash.Update(buffer.data(), n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        *error = path + ": read error";
        return std::nullopt;
    }
    std::string hex;
    for (std::uint8_t b : hash.Finish()) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", b);
        hex += digits;
    }
    return hex;
}
