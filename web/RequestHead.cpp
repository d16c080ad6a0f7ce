#include "web/RequestHead.h"

#include <algorithm>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

RequestHead::RequestHead(std::string carried) : m_buffer(std::move(carried)) {
    Scan();
}

RequestHead::State RequestHead::Add(std::string_view bytes) {
    if (m_state != State::Partial) return m_state;
    m_buffer.append(bytes);
    return Scan();
}

RequestHead::State RequestHead::Scan() {
    while (m_state == State::Partial) {
        const std::size_t newline = m_buffer.find('\n', m_scanned);
        if (newline == std::string::npos) {
            if (m_buffer.size() > kMaxBytes) m_state = State::TooLarge;
            break;
        }
        const std::size_t length = newline - m_scanned;
        const bool blank = length == 0 || (length == 1 && m_buffer[m_scanned] == '\r');
        m_scanned = newline + 1;
        if (m_scanned > kMaxBytes) {
            m_state = State::TooLarge;
        } else if (blank && m_lines > 0) {
            m_end = m_scanned;
            m_state = State::Complete;
        } else if (!blank && ++m_lines > kMaxLines + 1) {  // the request line and its headers
            m_state = State::TooLarge;
        }
    }
    return m_state;
}

bool RequestHead::AnnouncesBody() const {
    const std::string_view head = Head();
    for (std::size_t at = head.find('\n'); at != std::string_view::npos;
         at = head.find('\n', at + 1)) {
        const std::string_view line = head.substr(at + 1, head.find('\n', at + 1) - at - 1);
        if (StartsWithNoCase(line, "transfer-encoding:")) return true;
        if (StartsWithNoCase(line, "content-length:")) {
            const std::string_view value = line.substr(15);
            if (value.find_first_not_of(" \t0\r") != std::string_view::npos) return true;
        }
    }
    return false;
}
