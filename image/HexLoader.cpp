#include "image/HexLoader.h"

#include <algorithm>
#include <cstring>

#include "services/DialogServices.h"
#include "image/File.h"
#include "image/LoadAnalysis.h"

namespace {

constexpr int kTypeData = 0x00;
constexpr int kTypeExtendedLinear = 0x04;
constexpr int kTypeStartLinear = 0x05;
// Only the low 11 bits of the upper address half place data in the 512 KB image.
constexpr int kUpperAddressMask = 0x7FF;
// ':' + count + address + type + checksum + one character (normally CR) + line feed.
constexpr std::int64_t kLineOverhead = 13;
// Positions 0..12 are all a line shorter than 13 characters can reach.
constexpr std::size_t kHeadSize = 13;
constexpr std::size_t kReadChunk = std::size_t{64} * 1024;
static_assert(kReadChunk > kHexMaxLine);

constexpr int DigitValue(unsigned char c) {
    // Explicit ranges rather than isupper/islower: the GUI toolkit switches the process to the
    // user's locale, and these must stay the C locale's tests.
    if (c >= 'A' && c <= 'Z') return c - 55;
    if (c >= 'a' && c <= 'z') return c - 87;
    return c - 48;
}

// Every two-character value, so a pair costs one load: -816 ("\0\0") to 3519 ("\xFF\xFF").
// Built at compile time into read-only data, so a load touches only the few pages that
// well-formed records use. Plain arrays keep the evaluation within clang's step limit.
struct PairTable {
    std::int16_t value[65536];
};

constexpr PairTable MakePairTable() {
    std::int16_t digit[256] = {};
    for (unsigned c = 0; c < 256; ++c)
        digit[c] = static_cast<std::int16_t>(DigitValue(static_cast<unsigned char>(c)));
    PairTable table{};
    for (unsigned i = 0; i < 65536; ++i)
        table.value[i] = static_cast<std::int16_t>(digit[i >> 8] * 16 + digit[i & 0xFF]);
    return table;
}

constexpr PairTable kPairs = MakePairTable();

enum class LineResult { Next, Start, Reject };

// Why a line of n characters (line feed included) that the length check refused was refused:
// the digits between ':' and the line end are odd in number; or they are what the byte count
// says but the line ends in a line feed alone (the record takes one character, normally CR,
// before it); or they are not what the byte count says.
HexRefusal LengthRefusal(const char* text, std::size_t n, int count) {
    const bool carriage = n >= 2 && text[n - 2] == '\r';
    const auto digits = static_cast<std::int64_t>(n) - 2 - (carriage ? 1 : 0);
    if (digits % 2 != 0) return HexRefusal::OddDigits;
    if (!carriage && digits == 2 * std::int64_t{count} + 10) return HexRefusal::NoCarriage;
    return HexRefusal::LengthMismatch;
}

class RecordDecoder {
public:
    RecordDecoder(FirmwareImage& image, HexLoadReport& report) : m_image(image), m_report(report) {}

    // One complete line of n characters, line feed included (n <= 523).
    LineResult Decode(const char* text, std::size_t n) {
        // The line buffer is reused from line to line, so a line shorter than 13 characters
        // reaches past its end into what earlier lines left there. m_head mirrors those
        // positions and such a line is decoded from it.
        std::memcpy(m_head, text, std::min(n, kHeadSize));
        const char* p = n < kHeadSize ? m_head : text;

        const int count = Pair(p + 1);
        if (p[0] != ':') return Reject(HexRefusal::NoColon);
        if (static_cast<std::int64_t>(n) != 2 * std::int64_t{count} + kLineOverhead)
            return Reject(LengthRefusal(text, n, count));

        // The checksum covers positions 1, 3, 5, ... while j < n - 2. With the length right and
        // count >= 0 that is count, address, type, the data bytes and the checksum itself.
        unsigned sum = 0;
        std::uint8_t bytes[256];
        if (count < 0) {
            for (std::size_t j = 1; j + 2 < n; j += 2) sum += static_cast<unsigned>(Pair(p + j));
        } else {
            sum = static_cast<unsigned>(Pair(p + 1) + Pair(p + 3) + Pair(p + 5) + Pair(p + 7));
            const char* digits = p + 9;
            for (int k = 0; k < count; ++k, digits += 2) {
                const int value = Pair(digits);
                sum += static_cast<unsigned>(value);
                bytes[k] = static_cast<std::uint8_t>(value);
            }
            sum += static_cast<unsigned>(Pair(digits));
        }
        if ((sum & 0xFF) != 0) return Reject(HexRefusal::BadChecksum);

        const int type = Pair(p + 7);
        if (type == kTypeExtendedLinear) {
            m_extendedBase = std::int64_t{Quad(p + 9) & kUpperAddressMask} << 16;
        } else if (type == kTypeData) {
            Store(std::int64_t{Quad(p + 3)} + m_extendedBase, bytes, count);
        } else if (type == kTypeStartLinear) {
            return LineResult::Start;
        }
        return LineResult::Next;
    }

private:
    LineResult Reject(HexRefusal why) {
        m_report.refusal = why;
        return LineResult::Reject;
    }

    // ParseHexDigits(p, 2) and ParseHexDigits(p, 4), table-driven: same values for every byte.
    static int Pair(const char* p) {
        return kPairs.value[static_cast<unsigned>(static_cast<unsigned char>(p[0])) << 8 |
                            static_cast<unsigned char>(p[1])];
    }
    static int Quad(const char* p) { return Pair(p) * 256 + Pair(p + 2); }

    void Store(std::int64_t first, const std::uint8_t* bytes, int count) {
        if (count <= 0) return;
        // A stray digit can make the address negative or far too large: only the part that
        // falls inside the image is stored, the rest counted.
        const std::int64_t lo = std::max<std::int64_t>(first, 0);
        const std::int64_t hi = std::min<std::int64_t>(first + count, kImageSize);
        std::int64_t stored = 0;
        if (lo < hi) {
            stored = hi - lo;
            std::memcpy(&m_image.data[lo], bytes + (lo - first), static_cast<std::size_t>(stored));
            m_report.maxAddress = std::max(m_report.maxAddress, static_cast<std::uint32_t>(hi - 1));
        }
        m_report.skippedBytes += static_cast<std::uint64_t>(count - stored);
    }

    FirmwareImage& m_image;
    HexLoadReport& m_report;
    std::int64_t m_extendedBase = 0;
    char m_head[kHeadSize] = {};
};

class FileByteSource : public HexByteSource {
public:
    explicit FileByteSource(File& file) : m_file(file) {}
    std::int64_t Read(char* buffer, std::size_t size) override { return m_file.Read(buffer, size); }
    std::string ErrorText() const override { return m_file.ErrorText(); }

private:
    File& m_file;
};

bool Conclude(DialogServices& dlg, HexReadOutcome outcome, const HexLoadReport& report,
              const std::string& errorText, const std::string& path) {
    switch (outcome) {
        case HexReadOutcome::StartRecord:
            return FinishImageLoad(dlg, report.maxAddress + 1, path);
        case HexReadOutcome::Rejected:
            dlg.ShowMessage(kMsgFileReadError);
            return false;
        case HexReadOutcome::ReadError:
            dlg.ShowMessage(errorText);
            return false;
    }
    return false;
}

}  // namespace

std::int64_t ParseHexDigits(const char* text, unsigned digitCount) {
    // Unsigned arithmetic wraps instead of overflowing for absurd digit counts; for the 2 and 4
    // digits the records use, the value is exact.
    std::uint64_t value = 0;
    for (unsigned i = 0; i < digitCount; ++i) {
        const int digit = DigitValue(static_cast<unsigned char>(text[i]));
        value = value * 16 + static_cast<std::uint64_t>(static_cast<std::int64_t>(digit));
    }
    return static_cast<std::int64_t>(value);
}

const char* HexRefusalReason(HexRefusal refusal) {
    switch (refusal) {
        case HexRefusal::None:
            return "";
        case HexRefusal::NoColon:
            return "the record does not start with ':'";
        case HexRefusal::OddDigits:
            return "odd number of hex digits";
        case HexRefusal::NoCarriage:
            return "the line ends in a line feed alone (CR LF expected)";
        case HexRefusal::LengthMismatch:
            return "the line's length does not match its byte count";
        case HexRefusal::BadChecksum:
            return "bad checksum";
        case HexRefusal::LineTooLong:
            return "line too long (more than 523 characters with its line feed)";
        case HexRefusal::NoLineFeed:
            return "the file ends inside a line (no line feed)";
        case HexRefusal::NoStartRecord:
            return "the file ends without a start address record (type 05)";
    }
    return "";
}

std::string HexRefusalText(const HexLoadReport& report) {
    if (report.refusal == HexRefusal::None) return {};
    return "line " + std::to_string(report.refusedLine) + ": " + HexRefusalReason(report.refusal);
}

HexReadOutcome ReadHexRecords(HexByteSource& source, FirmwareImage& image, HexLoadReport& report) {
    RecordDecoder decoder(image, report);
    std::uint64_t lineNumber = 1;  // of the current line
    const auto refuse = [&](HexRefusal why) {
        if (why != HexRefusal::None) report.refusal = why;
        report.refusedLine = lineNumber;
        return HexReadOutcome::Rejected;
    };
    char buffer[kReadChunk];
    std::size_t pos = 0;      // start of the current line
    std::size_t end = 0;      // end of the bytes read so far
    std::size_t scanned = 0;  // bytes from pos already known to hold no line feed
    for (;;) {
        const std::size_t available = end - pos;
        const std::size_t limit = std::min(available, kHexMaxLine);
        const void* found = std::memchr(buffer + pos + scanned, '\n', limit - scanned);
        if (found == nullptr) {
            // 523 characters without a line feed: the line is too long, whatever follows.
            if (available >= kHexMaxLine) return refuse(HexRefusal::LineTooLong);
            scanned = available;
            if (pos > 0) {
                std::memmove(buffer, buffer + pos, available);
                pos = 0;
                end = available;
            }
            const std::int64_t got = source.Read(buffer + end, sizeof buffer - end);
            if (got < 0) return HexReadOutcome::ReadError;
            if (got == 0)
                return refuse(available == 0 ? HexRefusal::NoStartRecord : HexRefusal::NoLineFeed);
            end += static_cast<std::size_t>(got);
            continue;
        }
        const char* line = buffer + pos;
        const std::size_t n = static_cast<std::size_t>(static_cast<const char*>(found) - line) + 1;
        switch (decoder.Decode(line, n)) {
            case LineResult::Next:
                break;
            case LineResult::Start:
                return HexReadOutcome::StartRecord;
            case LineResult::Reject:
                return refuse(HexRefusal::None);  // the decoder said why
        }
        pos += n;
        scanned = 0;
        ++lineNumber;
    }
}

bool LoadHexFile(DialogServices& dlg, HexLoadReport* report) {
    const auto path = dlg.ChooseFile(FileDialogMode::Open, kHexDefaultExtension, kHexOpenFilter);
    if (!path) return false;
    return LoadHexFileFrom(dlg, *path, report);
}

bool LoadHexFileFrom(DialogServices& dlg, const std::string& path, HexLoadReport* report) {
    HexLoadReport local;
    HexLoadReport& result = report != nullptr ? *report : local;
    result = {};
    File file;
    if (!file.OpenForReading(path)) {
        dlg.ShowMessage(kMsgHexOpenError);
        return false;
    }
    FileByteSource source(file);
    const HexReadOutcome outcome = ReadHexRecords(source, BeginImageLoad(), result);
    const std::string errorText = file.ErrorText();
    file.Close();
    return Conclude(dlg, outcome, result, errorText, path);
}

bool LoadHexFromSource(DialogServices& dlg, HexByteSource& source, const std::string& path,
                       HexLoadReport* report) {
    HexLoadReport local;
    HexLoadReport& result = report != nullptr ? *report : local;
    result = {};
    const HexReadOutcome outcome = ReadHexRecords(source, BeginImageLoad(), result);
    return Conclude(dlg, outcome, result, source.ErrorText(), path);
}
