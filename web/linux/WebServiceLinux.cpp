// Loads the pages' module (kestrel-web.so) on first use, where the database module is looked
// for: beside the running program, then in ../lib/kestrel/ from it, then where the build put it.

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <mutex>

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
        for (const std::string& path :
             {folder + "/kestrel-web.so", folder + "/../lib/kestrel/kestrel-web.so",
              std::string(KESTREL_WEB_MODULE_BUILT)}) {
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
