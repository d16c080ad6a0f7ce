#pragma once
// SHA-256 from a well-kept library: GNU Nettle on Linux, the OS's own BCrypt on
// Windows (one implementation per platform, chosen by CMake). Sha256OfFile is portable.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void Update(const std::uint8_t* data, std::size_t size);
    std::array<std::uint8_t, 32> Finish();

    struct State;

private:
    std::unique_ptr<State> m_state;
};

// The file's SHA-256 as 64 lower-case hex digits; nothing, with the cause in *error, when the
// file cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path, std::string* error);
