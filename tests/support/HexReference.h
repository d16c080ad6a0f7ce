#pragma once
// A second, deliberately plain reading of the HEX record rules: one character at a time into a
// 523-character line buffer that lives across lines, every value through a literal digit loop.
// Tests and the fuzzer hold the real loader against it. Also: an in-memory byte source that
// hands out its bytes in chosen pieces and can fail at a chosen offset.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/FirmwareImage.h"
#include "image/HexLoader.h"

struct HexReferenceResult {
    HexReadOutcome outcome = HexReadOutcome::Rejected;
    HexLoadReport report;
    std::size_t consumed = 0;  // characters read before the outcome was known
};

// Reads records from text into image (which the caller has filled with 0xFF).
HexReferenceResult ReferenceReadHex(const std::string& text, FirmwareImage& image);

// Serves text in pieces whose sizes cycle through pieceSizes (a piece never exceeds what the
// reader asks for). With failAt set, reads stop short of that offset and a read there fails.
class MemoryByteSource : public HexByteSource {
public:
    explicit MemoryByteSource(std::string text, std::vector<std::size_t> pieceSizes = {},
                              std::optional<std::size_t> failAt = std::nullopt);
    std::int64_t Read(char* buffer, std::size_t size) override;
    std::string ErrorText() const override { return "Cannot read \"memory\": Input/output error"; }

    std::size_t Delivered() const { return m_offset; }
    int ReadCalls() const { return m_calls; }

private:
    std::string m_text;
    std::vector<std::size_t> m_pieces;
    std::optional<std::size_t> m_failAt;
    std::size_t m_offset = 0;
    std::size_t m_nextPiece = 0;
    int m_calls = 0;
};

// One record line with its checksum and "\r\n".
std::string HexRecord(std::uint16_t address, std::uint8_t type,
                      const std::vector<std::uint8_t>& data);

// A HEX text of bytes placed at image offset 0 (upper address 0x0800), 16 bytes per record,
// ending with a type 05 and an end-of-file record.
std::string HexTextOf(const std::vector<std::uint8_t>& bytes, std::size_t recordSize = 16);
