#include "ledger/PrintableText.h"

std::string PrintableText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            out += byte < 0x20 || byte == 0x7f ? '?' : static_cast<char>(byte);
            ++i;
            continue;
        }
        // The length of a well-formed UTF-8 sequence (no overlong forms, no surrogates).
        std::size_t length = 0;
        unsigned long code = 0;
        if (byte >= 0xc2 && byte <= 0xdf) {
            length = 2;
            code = byte & 0x1fu;
        } else if (byte >= 0xe0 && byte <= 0xef) {
            length = 3;
            code = byte & 0x0fu;
        } else if (byte >= 0xf0 && byte <= 0xf4) {
            length = 4;
            code = byte & 0x07u;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            valid = (next & 0xc0u) == 0x80u;
            code = code << 6 | (next & 0x3fu);
        }
        if (valid && ((length == 3 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff))) ||
                      (length == 4 && (code < 0x10000 || code > 0x10ffff))))
            valid = false;
        // C1 controls (U+0080 to U+009F) are read as escapes by some terminals.
        if (!valid || (code >= 0x80 && code <= 0x9f)) {
            out += '?';
            i += valid ? length : 1;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}
