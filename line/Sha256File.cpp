#include <cstdio>
#include <vector>

#include "line/Sha256.h"
#include "image/File.h"

std::optional<std::string> Sha256OfFile(const std::string& path, std::string* error) {
    // Through the file layer, so the path is read as the loaders read it (UTF-8, no sharing on
    // Windows).
    File file;
    if (!file.OpenForReading(path)) {
        *error = file.ErrorText();
        return std::nullopt;
    }
    Sha256 hash;
    std::vector<std::uint8_t> buffer(1 << 16);
    for (;;) {
        const std::int64_t n = file.Read(buffer.data(), buffer.size());
        if (n < 0) {
            *error = file.ErrorText();
            return std::nullopt;
        }
        if (n == 0) break;
        hash.Update(buffer.data(), static_cast<std::size_t>(n));
    }
    std::string hex;
    for (std::uint8_t b : hash.Finish()) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", b);
        hex += digits;
    }
    return hex;
}
