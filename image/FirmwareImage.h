#pragma once
// The one firmware image the tool works on: a copy of the device's 512 KB program space and
// the range of 1 KB blocks an upgrade sends. It is a static record that lives for the whole run;
// nothing allocates image data on the heap.

#include <cstddef>
#include <cstdint>

inline constexpr std::uint32_t kBlockSize = 1024;
inline constexpr std::uint16_t kImageBlocks = 512;
inline constexpr std::uint32_t kImageSize = kBlockSize * kImageBlocks;    // 0x80000
inline constexpr std::uint16_t kBootBlocks = 16;                          // blocks 0..15
inline constexpr std::uint32_t kBootAreaSize = kBlockSize * kBootBlocks;  // 0x4000
inline constexpr std::uint8_t kErasedByte = 0xFF;
inline constexpr std::uint32_t kTrailerSize = 8;

struct FirmwareImage {
    std::uint8_t busy;           // 1 while an upgrade runs (start frame accepted, not ended)
    std::uint16_t currentBlock;  // next block to send
    std::uint16_t endBlock;      // one past the last block of the range
    std::uint16_t startBlock;    // the "PORI" marker block, first block sent
    std::uint8_t data[kImageSize];
};

// The image every part of the tool reads. Zero until the first load.
extern FirmwareImage g_image;

// Loaders fill this record; FinishImageLoad copies it into g_image only when the analysis
// accepts it, so a rejected file never replaces what is loaded (see LoadAnalysis.h).
extern FirmwareImage g_loadScratch;

// Trailer byte i (0..7) of the range ending at endBlock: the last eight bytes of block
// endBlock - 1. Bytes 0-1 are the chip family, 2, 3, 4, 6, 7 the chip identification and 5 the
// boot type. endBlock must be 1..512.
std::uint8_t TrailerByte(const FirmwareImage& image, std::uint16_t endBlock, unsigned i);

// True when the image holds a range that can be sent: startBlock < endBlock <= 512.
bool HasSendableRange(const FirmwareImage& image);
