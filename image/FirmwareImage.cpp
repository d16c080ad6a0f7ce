#include "image/FirmwareImage.h"

FirmwareImage g_image{};
FirmwareImage g_loadScratch{};

std::uint8_t TrailerByte(const FirmwareImage& image, std::uint16_t endBlock, unsigned i) {
    const std::uint32_t offset = std::uint32_t{endBlock} * kBlockSize - kTrailerSize + i;
    return offset < kImageSize ? image.data[offset] : kErasedByte;
}

bool HasSendableRange(const FirmwareImage& image) {
    return image.startBlock < image.endBlock && image.endBlock <= kImageBlocks;
}
