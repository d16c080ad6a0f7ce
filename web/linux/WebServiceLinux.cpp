// Loads the pages' module (kestrel-web.so) on first use, where the database module is looked
// for: in ../lib/kestrel/ from the running program (installed); in a build with the tests also
// beside it and where the build put it. Also the POSIX side of --web's options: the addresses a
// name resolves to, and the token file's mode.

#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "ledger/UnitDatabase.h"
#include "web/WebService.h"

namespace {

using StartFunction = WebService* (*)(const WebOptions& options, UnitDatabase* database,
                                      std::string* error);

std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    const std::string program(path, static_cast<std::size_t>(n));
    return program.substr(0, program.find_last_of('/'));
}

StartFunction LoadModule(std::string* error) {
    static std::once_flag s_once;
    static StartFunction s_start = nullptr;
    static std::string s_error;
    std::call_once(s_once, [] {
        const std::string folder = ProgramFolder();
        std::vector<std::string> places{folder + "/../lib/kestrel/kestrel-web.so"};
#ifdef KESTREL_WEB_MODULE_BUILT
        places.insert(places.begin(), folder + "/kestrel-web.so");
        places.emplace_back(KESTREL_WEB_MODULE_BUILT);
#endif
        for (const std::string& path : places) {
            if (::access(path.c_str(), R_OK) != 0) continue;
            void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!module) {
                const char* cause = ::dlerror();
                s_error = "cannot load " + path + ": " + (cause ? cause : "unknown error");
                return;
            }
            s_start = reinterpret_cast<StartFunction>(::dlsym(module, "KestrelStartWeb"));
            if (!s_start) s_error = path + " is not Kestrel's web module";
            return;
        }
        s_error = "the web module kestrel-web.so is not installed beside kestrel-cli";
    });
    if (!s_start) *error = s_error;
    return s_start;
}

}  // namespace

bool WebSupported(std::string*) {
    return true;
}

bool IsLoopbackAddress(const std::string& address) {
    // What the name resolves to, every address of it: "127.lan" may be any address.
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    if (::getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0) return false;
    bool loopback = found != nullptr;
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        if (at->ai_family == AF_INET) {
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(at->ai_addr);
            loopback = loopback && (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
        } else if (at->ai_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(at->ai_addr);
            loopback = loopback && IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr);
        } else {
            loopback = false;
        }
    }
    ::freeaddrinfo(found);
    return loopback;
}

bool TokenFileIsPrivate(const std::string& path, std::string* error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        *error = "cannot read the token file " + path + ": " + std::strerror(errno);
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        *error = "the token file " + path +
                 " may be read by others than its owner; make it private: chmod 600 " + path;
        return false;
    }
    return true;
}

std::unique_ptr<WebService> WebService::StartStation(const WebOptions& options,
                                                     std::string* error) {
    const StartFunction start = LoadModule(error);
    if (!start) return nullptr;
    return std::unique_ptr<WebService>(start(options, nullptr, error));
}

std::unique_ptr<WebService> WebService::StartLine(const WebOptions& options,
                                                  std::unique_ptr<UnitDatabase> database,
                                                  std::string* error) {
    const StartFunction start = LoadModule(error);
    if (!start) return nullptr;
    return std::unique_ptr<WebService>(start(options, database.release(), error));
}
