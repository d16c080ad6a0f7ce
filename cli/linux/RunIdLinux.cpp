#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "cli/RunId.h"

std::string NewRunId() {
    std::uint8_t bytes[16] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string id;
    for (std::uint8_t b : bytes) {
        id += kDigits[b >> 4];
        id += kDigits[b & 0xF];
    }
    return id;
}

std::string DefaultStationName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}
