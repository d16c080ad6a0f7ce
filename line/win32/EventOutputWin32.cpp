// Windows: the C library's stream, written whole (a console or a file does not stall here as a
// pipe's reader can on Linux).
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "line/EventOutput.h"

namespace {

class StdioOutput : public EventOutput {
public:
    StdioOutput(std::FILE* file, bool own) : m_file(file), m_own(own) {}
    ~StdioOutput() override {
        if (m_own) std::fclose(m_file);
    }

    bool Write(std::string_view bytes, const std::atomic<bool>&, std::string* error) override {
        errno = 0;
        if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) == bytes.size() &&
            std::fflush(m_file) == 0)
            return true;
        *error = errno != 0 ? std::strerror(errno) : "write failed";
        return false;
    }

private:
    std::FILE* m_file;
    bool m_own;
};

}  // namespace

std::unique_ptr<EventOutput> EventOutput::Open(const std::string& path, std::string* error) {
    if (path == "-") return std::make_unique<StdioOutput>(stdout, false);
    std::FILE* file = std::fopen(path.c_str(), "abN");
    if (file == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    return std::make_unique<StdioOutput>(file, true);
}
