#include "app/StartupOptions.h"

#include <string_view>

#include "KestrelVersion.h"

std::optional<int> AnswerStartupOptions(int argc, const char* const* argv, std::ostream& out) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            out << "kestrel-upgrade " << kKestrelVersion << "\n";
            return 0;
        }
        if (arg == "-h" || arg == "--help") {
            out << "kestrel-upgrade: firmware upgrade tool, dialog\n"
                   "Usage: kestrel-upgrade [OPTIONS]\n"
                   "\n"
                   "Options:\n"
                   "  -h,--help                   Print this help message and exit\n"
                   "  --version                   Display program version information and exit\n";
            return 0;
        }
    }
    return std::nullopt;
}
