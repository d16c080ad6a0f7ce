// Any byte string as a raw program binary: the analysis that ends every load must find the
// first marker block from 16 on, keep the range inside the image, and commit only what it
// accepts.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "fuzz/FuzzCheck.h"
#include "image/FirmwareImage.h"
#include "image/LoadAnalysis.h"
#include "tests/support/FakeDialog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // As the raw loader does: erased flash, then at most 512 KB of the file; the length is the
    // file's own.
    FirmwareImage& scratch = BeginImageLoad();
    std::memcpy(scratch.data, data, std::min<std::size_t>(size, kImageSize));
    const auto length = static_cast<std::uint32_t>(size);
    const LoadAnalysisResult result = AnalyseImage(scratch, length);

    FUZZ_CHECK(result.startBlock >= kBootBlocks && result.startBlock <= kImageBlocks);
    FUZZ_CHECK(result.endBlock >= result.startBlock && result.endBlock <= kImageBlocks);
    for (std::uint32_t b = kBootBlocks; b < result.startBlock; ++b)
        FUZZ_CHECK(std::memcmp(&scratch.data[b * kBlockSize], "PORI", 4) != 0);
    if (result.markerFound) {
        FUZZ_CHECK(std::memcmp(&scratch.data[result.startBlock * kBlockSize], "PORI", 4) == 0);
        const std::uint64_t blocks = (std::uint64_t{length} + kBlockSize - 1) / kBlockSize;
        FUZZ_CHECK(result.endBlock ==
                   std::min<std::uint64_t>(kImageBlocks,
                                           std::max<std::uint64_t>(result.startBlock, blocks)));
    }
    if (result.Accepted()) FUZZ_CHECK(result.endBlock > result.startBlock);

    const std::uint16_t endBefore = g_image.endBlock;
    FakeDialog dlg;
    const bool accepted = FinishImageLoad(dlg, length, "fuzz.bin");
    FUZZ_CHECK(accepted == result.Accepted());
    if (accepted) {
        FUZZ_CHECK(g_image.startBlock == result.startBlock && g_image.endBlock == result.endBlock);
        FUZZ_CHECK(std::memcmp(g_image.data, scratch.data, kImageSize) == 0);
        FUZZ_CHECK(dlg.m_strSpace == SpaceText(result.startBlock, result.endBlock));
    } else {
        FUZZ_CHECK(dlg.messages == std::vector<std::string>{kMsgFileReadError});
        FUZZ_CHECK(g_image.endBlock == endBefore);
    }
    return 0;
}
