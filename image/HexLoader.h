#pragma once
// Loading an Intel HEX file ("M3 HEX"): record types 04 (extended linear address), 00 (data) and
// 05 (start linear address, which ends the load). Only the low 11 bits of the upper address half
// count, so 0x0800xxxx lands at image offset 0.

#include <cstddef>
#include <cstdint>
#include <string>

#include "image/FirmwareImage.h"

class DialogServices;

inline constexpr char kMsgHexOpenError[] = "File open error!";
inline constexpr char kHexOpenFilter[] = "M3 HEX files (*.hex)|*.hex|";
inline constexpr char kHexDefaultExtension[] = "hex";

// Longest record line, line feed included.
inline constexpr std::size_t kHexMaxLine = 523;

// digitCount characters read as hexadecimal. Characters are not checked: 'A'-'Z' count
// c - 55, 'a'-'z' c - 87 and every other byte (taken as unsigned) c - 48, so a stray character
// gives a wrong value that the record checksum normally exposes. The letter tests are those of
// the C locale whatever the process locale is.
std::int64_t ParseHexDigits(const char* text, unsigned digitCount);

// Why the records of a file were refused. The dialog says only "File read error!"; the command
// line also says where and why.
enum class HexRefusal {
    None,
    NoColon,         // the line does not start with ':'
    OddDigits,       // an odd number of digits between ':' and the line end
    NoCarriage,      // the line ends in a line feed alone, one character short of CR LF
    LengthMismatch,  // the line's length disagrees with its byte count
    BadChecksum,     // the record's bytes do not sum to zero
    LineTooLong,     // no line feed within 523 characters
    NoLineFeed,      // the file ends inside a line
    NoStartRecord,   // the file ends without a start address record (type 05)
};

struct HexLoadReport {
    // Data bytes whose image offset fell outside 0..524,287: skipped, never stored.
    std::uint64_t skippedBytes = 0;
    // Highest image offset a data record wrote (0 when none did).
    std::uint32_t maxAddress = 0;
    // A refused file: why, and on which line (from 1; the line after the last one for a file
    // that ends without a start record).
    HexRefusal refusal = HexRefusal::None;
    std::uint64_t refusedLine = 0;
};

// "bad checksum", "odd number of hex digits", ...; "" for None.
const char* HexRefusalReason(HexRefusal refusal);
// "line 12: bad checksum" for a refused file; "" when the records were not refused.
std::string HexRefusalText(const HexLoadReport& report);

// Where the record reader gets its bytes. Read is called only when the reader needs the next
// character and has none left, so it behaves as if the file were read one character at a time.
class HexByteSource {
public:
    virtual ~HexByteSource() = default;
    // Bytes read (at most size), 0 at the end of the file, -1 on a read error.
    virtual std::int64_t Read(char* buffer, std::size_t size) = 0;
    // Names the source and the cause of the last read error.
    virtual std::string ErrorText() const = 0;
};

enum class HexReadOutcome {
    StartRecord,  // a type 05 record ended the records
    Rejected,     // end of file first, or a bad line: "File read error!"
    ReadError,    // the source failed; its ErrorText says why
};

// Reads records into image (which the caller has filled with 0xFF) up to the type 05 record or
// the first error. Nothing after the type 05 line is looked at.
HexReadOutcome ReadHexRecords(HexByteSource& source, FirmwareImage& image, HexLoadReport& report);

// Browse with HEX selected: asks for a file and loads it. True when a file was loaded.
bool LoadHexFile(DialogServices& dlg, HexLoadReport* report = nullptr);

// Loads the file at path (no dialog).
bool LoadHexFileFrom(DialogServices& dlg, const std::string& path, HexLoadReport* report = nullptr);

// Loads from any source; path is what a successful load records as the program file.
bool LoadHexFromSource(DialogServices& dlg, HexByteSource& source, const std::string& path,
                       HexLoadReport* report = nullptr);
