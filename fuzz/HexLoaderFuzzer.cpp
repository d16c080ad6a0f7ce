// Any byte string as a HEX file. Nothing may crash or touch memory outside the image, and the
// buffered reader, fed in pieces of every size, must decide exactly as the one-character-at-a-
// time reading in tests/support does. A full load then runs through the dialog services.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "image/LoadAnalysis.h"
#include "tests/support/FakeDialog.h"
#include "tests/support/HexReference.h"

namespace {

FirmwareImage g_expected;
FirmwareImage g_actual;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::memset(g_expected.data, kErasedByte, sizeof g_expected.data);
    const HexReferenceResult want = ReferenceReadHex(text, g_expected);

    for (const auto& pieces : {std::vector<std::size_t>{}, std::vector<std::size_t>{1},
                               std::vector<std::size_t>{3, 7, 64, 1000}}) {
        std::memset(g_actual.data, kErasedByte, sizeof g_actual.data);
        MemoryByteSource source(text, pieces);
        HexLoadReport report;
        FUZZ_CHECK(ReadHexRecords(source, g_actual, report) == want.outcome);
        FUZZ_CHECK(report.maxAddress == want.report.maxAddress);
        FUZZ_CHECK(report.skippedBytes == want.report.skippedBytes);
        FUZZ_CHECK(std::memcmp(g_actual.data, g_expected.data, kImageSize) == 0);
        // Reading stops with the line that decided: nothing after a type 05 line is fetched
        // unless it came in the same piece.
        if (pieces.size() == 1) FUZZ_CHECK(source.Delivered() == want.consumed);
    }

    FakeDialog dlg;
    MemoryByteSource source(text);
    HexLoadReport report;
    const bool loaded = LoadHexFromSource(dlg, source, "fuzz.hex", &report);
    if (loaded) {
        FUZZ_CHECK(dlg.messages.empty());
        FUZZ_CHECK(HasSendableRange(g_image));
        FUZZ_CHECK(g_image.startBlock >= kBootBlocks);
        FUZZ_CHECK(dlg.m_strSpace == SpaceText(g_image.startBlock, g_image.endBlock));
    } else {
        FUZZ_CHECK(dlg.messages.size() == 1);
    }
    return 0;
}
