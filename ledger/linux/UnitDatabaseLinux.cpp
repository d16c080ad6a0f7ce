// Loads the database module (kestrel-db.so) on first use: beside the running program (the build
// tree, and a program copied with it), then in ../lib/kestrel/ from it (installed), then where
// the build put it (the test programs).

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "ledger/InterruptibleDatabase.h"
#include "ledger/ReportDatabase.h"
#include "ledger/UnitDatabase.h"

namespace {

using OpenFunction = UnitDatabase* (*)(const std::string& url, std::string* error);
using OpenReportFunction = ReportDatabase* (*)(const std::string& url, std::string* error);

std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    const std::string program(path, static_cast<std::size_t>(n));
    return program.substr(0, program.find_last_of('/'));
}

// The module, loaded once; nothing, with the reason in *error, when it cannot be.
void* LoadModule(std::string* error) {
    static std::once_flag s_once;
    static void* s_module = nullptr;
    static std::string s_error;
    std::call_once(s_once, [] {
        const std::string folder = ProgramFolder();
        // Where the package installs it, relative to the program. Only a build with the tests
        // also looks in the build tree (beside the program, and where the build put it): an
        // installed release never loads a module from a folder a build left behind.
        std::vector<std::string> places{folder + "/../lib/kestrel/kestrel-db.so"};
#ifdef KESTREL_DB_MODULE_BUILT
        places.insert(places.begin(), folder + "/kestrel-db.so");
        places.emplace_back(KESTREL_DB_MODULE_BUILT);
#endif
        for (const std::string& path : places) {
            if (::access(path.c_str(), R_OK) != 0) continue;
            void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (!module) {
                const char* cause = ::dlerror();
                s_error = "cannot load " + path + ": " + (cause ? cause : "unknown error");
                return;
            }
            if (!::dlsym(module, "KestrelOpenUnitDatabase")) {
                s_error = path + " is not Kestrel's database module";
                return;
            }
            s_module = module;
            return;
        }
        s_error = "the database module kestrel-db.so is not installed beside kestrel-cli";
    });
    if (!s_module) *error = s_error;
    return s_module;
}

template <typename Function>
Function ModuleFunction(const char* name, std::string* error) {
    void* module = LoadModule(error);
    if (!module) return nullptr;
    const auto function = reinterpret_cast<Function>(::dlsym(module, name));
    if (!function) *error = std::string("the database module has no ") + name;
    return function;
}

}  // namespace

std::string DatabaseArgumentForChildren(const std::string& url) {
    ::setenv("KESTREL_DB_URL", url.c_str(), 1);
    return "env:KESTREL_DB_URL";
}

bool DatabaseSupported(std::string* /*error*/) {
    return true;
}

std::unique_ptr<UnitDatabase> UnitDatabase::Open(const std::string& url, std::string* error) {
    const auto open = ModuleFunction<OpenFunction>("KestrelOpenUnitDatabase", error);
    if (!open) return nullptr;
    return InterruptibleDatabase::Open(url, open, error);
}

std::unique_ptr<ReportDatabase> ReportDatabase::Open(const std::string& url, std::string* error) {
    const auto open = ModuleFunction<OpenReportFunction>("KestrelOpenReportDatabase", error);
    if (!open) return nullptr;
    return std::unique_ptr<ReportDatabase>(open(url, error));
}
