#pragma once
// Builds firmware images and files for tests: erased flash, a marker block, a trailer, a boot
// area, written into a per-test temporary folder.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct ImageLayout {
    std::uint16_t startBlock = 16;  // "PORI" goes here (0xFFFF: no marker)
    std::uint16_t endBlock = 100;   // the file is endBlock KB long
    std::string family = "ST";
    std::uint8_t chipId[5] = {0x41, 0x42, 0x43, 0x44, 0x45};  // trailer bytes 2,3,4,6,7
    std::uint8_t bootType = 1;                                // trailer byte 5
    bool bootArea = true;  // fill blocks 0..15 with a pattern (else 0xFF)
};

// The bytes of a raw image file described by layout; the body carries a position pattern.
std::vector<std::uint8_t> BuildRawImage(const ImageLayout& layout);

// Places the trailer of a range ending at endBlock into bytes.
void PutTrailer(std::vector<std::uint8_t>& bytes, std::uint16_t endBlock,
                const ImageLayout& layout);

// A fresh folder under the build tree, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
