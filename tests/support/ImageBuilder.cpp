#include "tests/support/ImageBuilder.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "image/FirmwareImage.h"

std::vector<std::uint8_t> BuildRawImage(const ImageLayout& layout) {
    std::vector<std::uint8_t> bytes(std::size_t{layout.endBlock} * kBlockSize, kErasedByte);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool boot = i < kBootAreaSize;
        if (!boot || layout.bootArea)
            bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 1024) & 0xFF);
    }
    // Neighbouring pattern bytes differ by 7, so the pattern never spells "PORI" by chance.
    if (layout.startBlock != 0xFFFF) {
        const std::size_t at = std::size_t{layout.startBlock} * kBlockSize;
        bytes[at] = 'P';
        bytes[at + 1] = 'O';
        bytes[at + 2] = 'R';
        bytes[at + 3] = 'I';
    }
    PutTrailer(bytes, layout.endBlock, layout);
    return bytes;
}

void PutTrailer(std::vector<std::uint8_t>& bytes, std::uint16_t endBlock,
                const ImageLayout& layout) {
    const std::size_t at = std::size_t{endBlock} * kBlockSize - kTrailerSize;
    if (bytes.size() < at + kTrailerSize) bytes.resize(at + kTrailerSize, kErasedByte);
    bytes[at] = static_cast<std::uint8_t>(layout.family.size() > 0 ? layout.family[0] : 0xFF);
    bytes[at + 1] = static_cast<std::uint8_t>(layout.family.size() > 1 ? layout.family[1] : 0xFF);
    bytes[at + 2] = layout.chipId[0];
    bytes[at + 3] = layout.chipId[1];
    bytes[at + 4] = layout.chipId[2];
    bytes[at + 5] = layout.bootType;
    bytes[at + 6] = layout.chipId[3];
    bytes[at + 7] = layout.chipId[4];
}

TempDir::TempDir() {
    std::random_device seed;
    const auto base = std::filesystem::path(KESTREL_BUILD_DIR) / "test-tmp";
    std::filesystem::create_directories(base);
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("t" + std::to_string(seed()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
