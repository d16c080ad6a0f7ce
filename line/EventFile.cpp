#include "line/EventFile.h"

#include <cerrno>
#include <cstring>

EventFile::~EventFile() {
    if (m_own && m_file != nullptr) std::fclose(m_file);
}

bool EventFile::Open(const std::string& path, std::string* error) {
    m_path = path;
    if (path == "-") {
        m_file = stdout;
        return true;
    }
    m_file = std::fopen(path.c_str(), "ab");
    if (m_file == nullptr) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    m_own = true;
    return true;
}

void EventFile::OnEvent(std::string_view line) {
    if (m_file == nullptr || !m_error.empty()) return;
    errno = 0;
    const bool ok = std::fwrite(line.data(), 1, line.size(), m_file) == line.size() &&
                    std::fputc('\n', m_file) != EOF && std::fflush(m_file) == 0;
    if (!ok)
        m_error = (m_path == "-" ? std::string("standard output") : m_path) + ": " +
                  (errno != 0 ? std::strerror(errno) : "write failed");
}
