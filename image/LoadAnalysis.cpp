#include "image/LoadAnalysis.h"

#include <algorithm>
#include <cstring>

#include "services/DialogServices.h"

namespace {

constexpr char kMarker[4] = {'P', 'O', 'R', 'I'};

}  // namespace

bool IsValidChipFamily(std::uint8_t first, std::uint8_t second) {
    return (first == 'S' && second == 'T') || (first == 'G' && second == 'D') ||
           (first == 'H' && second == 'C');
}

LoadAnalysisResult AnalyseImage(const FirmwareImage& image, std::uint32_t length) {
    LoadAnalysisResult result;
    for (std::uint16_t b = kBootBlocks; b < kImageBlocks; ++b) {
        if (std::memcmp(&image.data[std::size_t{b} * kBlockSize], kMarker, sizeof kMarker) == 0) {
            result.startBlock = b;
            result.markerFound = true;
            break;
        }
    }
    if (!result.markerFound) return result;

    // endBlock = min(512, max(startBlock, ceil(length / 1024))), counted in 64-bit so a length
    // near 4 GB cannot wrap.
    const std::uint64_t blocksInFile = (std::uint64_t{length} + kBlockSize - 1) / kBlockSize;
    result.endBlock = static_cast<std::uint16_t>(std::min<std::uint64_t>(
        kImageBlocks, std::max<std::uint64_t>(result.startBlock, blocksInFile)));

    // The marker lies inside the loaded length, so the range is never empty here; the check
    // keeps the trailer read inside the image whatever the caller passed.
    result.familyValid = result.endBlock > result.startBlock &&
                         IsValidChipFamily(TrailerByte(image, result.endBlock, 0),
                                           TrailerByte(image, result.endBlock, 1));
    return result;
}

std::string SpaceText(std::uint16_t startBlock, std::uint16_t endBlock) {
    return "Space (" + std::to_string(startBlock) + "-" + std::to_string(endBlock) + "K)";
}

FirmwareImage& BeginImageLoad() {
    std::memset(g_loadScratch.data, kErasedByte, sizeof g_loadScratch.data);
    return g_loadScratch;
}

namespace {
LoadCommitCheck g_commitCheck = nullptr;
}  // namespace

void SetLoadCommitCheck(LoadCommitCheck check) {
    g_commitCheck = check;
}

bool FinishImageLoad(DialogServices& dlg, std::uint32_t length, const std::string& path) {
    const LoadAnalysisResult analysis = AnalyseImage(g_loadScratch, length);
    if (!analysis.Accepted()) {
        dlg.ShowMessage(kMsgFileReadError);
        return false;
    }
    if (g_commitCheck != nullptr && !g_commitCheck(dlg)) return false;

    std::memcpy(g_image.data, g_loadScratch.data, sizeof g_image.data);
    g_image.startBlock = analysis.startBlock;
    g_image.endBlock = analysis.endBlock;

    dlg.ShowLoadedImage(path, SpaceText(analysis.startBlock, analysis.endBlock));
    return true;
}
