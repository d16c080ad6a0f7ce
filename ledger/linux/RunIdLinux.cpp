#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "ledger/RunId.h"

bool FillRandomBytes(std::uint8_t* bytes, std::size_t count) {
    std::size_t got = 0;
    while (got < count) {
        const ssize_t n = ::getrandom(bytes + got, count - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

std::string DefaultStationName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}
