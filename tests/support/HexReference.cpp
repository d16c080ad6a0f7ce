#include "tests/support/HexReference.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

std::int64_t Digits(const char* line, std::size_t position, unsigned count) {
    std::int64_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
        const int c = static_cast<unsigned char>(line[position + i]);
        int digit = c - 48;
        if (std::isupper(c))
            digit = c - 55;
        else if (std::islower(c))
            digit = c - 87;
        value = value * 16 + digit;
    }
    return value;
}

}  // namespace

HexReferenceResult ReferenceReadHex(const std::string& text, FirmwareImage& image) {
    HexReferenceResult result;
    char line[kHexMaxLine] = {};
    std::int64_t extendedBase = 0;
    std::size_t in = 0;
    for (;;) {
        std::size_t n = 0;
        for (;;) {
            if (in >= text.size()) {
                result.consumed = in;
                return result;  // end of file: rejected
            }
            const char c = text[in++];
            line[n++] = c;
            if (c == '\n') break;
            if (n == kHexMaxLine) {
                result.consumed = in;
                return result;
            }
        }
        result.consumed = in;
        const std::int64_t count = Digits(line, 1, 2);
        const std::int64_t type = Digits(line, 7, 2);
        const std::int64_t address = Digits(line, 3, 4);
        std::int64_t sum = 0;
        for (std::int64_t j = 1; j < static_cast<std::int64_t>(n) - 2; j += 2)
            sum += Digits(line, static_cast<std::size_t>(j), 2);
        if (line[0] != ':' || static_cast<std::int64_t>(n) != 2 * count + 13 || (sum & 0xFF) != 0)
            return result;
        if (type == 4) {
            extendedBase = (Digits(line, 9, 4) & 0x7FF) << 16;
        } else if (type == 0) {
            for (std::int64_t k = 0; k < count; ++k) {
                const std::int64_t a = address + extendedBase + k;
                const std::int64_t value = Digits(line, static_cast<std::size_t>(9 + 2 * k), 2);
                if (a < 0 || a >= static_cast<std::int64_t>(kImageSize)) {
                    ++result.report.skippedBytes;
                    continue;
                }
                image.data[a] = static_cast<std::uint8_t>(value & 0xFF);
                if (a > static_cast<std::int64_t>(result.report.maxAddress))
                    result.report.maxAddress = static_cast<std::uint32_t>(a);
            }
        } else if (type == 5) {
            result.outcome = HexReadOutcome::StartRecord;
            return result;
        }
    }
}

MemoryByteSource::MemoryByteSource(std::string text, std::vector<std::size_t> pieceSizes,
                                   std::optional<std::size_t> failAt)
    : m_text(std::move(text)), m_pieces(std::move(pieceSizes)), m_failAt(failAt) {}

std::int64_t MemoryByteSource::Read(char* buffer, std::size_t size) {
    ++m_calls;
    std::size_t piece = size;
    if (!m_pieces.empty()) {
        piece = std::min(size, std::max<std::size_t>(1, m_pieces[m_nextPiece]));
        m_nextPiece = (m_nextPiece + 1) % m_pieces.size();
    }
    piece = std::min(piece, m_text.size() - m_offset);
    if (m_failAt) {
        // Like a disk: what lies before the bad spot comes back, the next read fails.
        if (m_offset >= *m_failAt) return -1;
        piece = std::min(piece, *m_failAt - m_offset);
    }
    std::copy_n(m_text.data() + m_offset, piece, buffer);
    m_offset += piece;
    return static_cast<std::int64_t>(piece);
}

std::string HexRecord(std::uint16_t address, std::uint8_t type,
                      const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(data.size()),
                                      static_cast<std::uint8_t>(address >> 8),
                                      static_cast<std::uint8_t>(address & 0xFF), type};
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (std::uint8_t b : body) sum += b;
    body.push_back(static_cast<std::uint8_t>((0x100 - (sum & 0xFF)) & 0xFF));
    std::string line = ":";
    char digits[3];
    for (std::uint8_t b : body) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        line += digits;
    }
    return line + "\r\n";
}

std::string HexTextOf(const std::vector<std::uint8_t>& bytes, std::size_t recordSize) {
    std::string text;
    for (std::size_t offset = 0; offset < bytes.size(); offset += recordSize) {
        if (offset == 0 || (offset & 0xFFFF) < recordSize)
            text += HexRecord(0, 0x04, {0x08, static_cast<std::uint8_t>(offset >> 16)});
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(offset);
        const auto last = bytes.begin() +
                          static_cast<std::ptrdiff_t>(std::min(bytes.size(), offset + recordSize));
        text += HexRecord(static_cast<std::uint16_t>(offset & 0xFFFF), 0x00, {first, last});
    }
    text += HexRecord(0, 0x05, {0x08, 0x00, 0x00, 0x00});
    text += HexRecord(0, 0x01, {});
    return text;
}
