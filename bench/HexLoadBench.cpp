// LoadHexFile on a HEX file that fills the whole 512 KB image with 16-byte records (about
// 1.47 MB of text), reported in MB/s of file text; and the record reader alone from memory.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "cli/ConsoleDialog.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "image/RawBinaryLoader.h"

namespace {

std::string Record(std::uint32_t address, std::uint8_t type, const std::uint8_t* data,
                   std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string line = ":";
    unsigned sum = 0;
    auto put = [&](std::uint8_t b) {
        line += kDigits[b >> 4];
        line += kDigits[b & 0xF];
        sum += b;
    };
    put(static_cast<std::uint8_t>(count));
    put(static_cast<std::uint8_t>(address >> 8));
    put(static_cast<std::uint8_t>(address));
    put(type);
    for (std::size_t i = 0; i < count; ++i) put(data[i]);
    put(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    return line + "\r\n";
}

// A full image that loads: marker at block 16, trailer "ST" at the very end, noise elsewhere.
std::vector<std::uint8_t> FullImage() {
    std::vector<std::uint8_t> image(kImageSize);
    std::uint32_t state = 12345;
    for (auto& b : image) {
        state = state * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(state >> 24);
    }
    std::memcpy(&image[16 * kBlockSize], "PORI", 4);
    const std::uint8_t trailer[8] = {'S', 'T', 0x41, 0x42, 0x43, 0x01, 0x44, 0x45};
    std::memcpy(&image[kImageSize - 8], trailer, 8);
    return image;
}

std::string FullImageHex() {
    const auto image = FullImage();
    std::string text;
    for (std::uint32_t offset = 0; offset < kImageSize; offset += 16) {
        if ((offset & 0xFFFF) == 0) {
            const std::uint8_t upper[2] = {0x08, static_cast<std::uint8_t>(offset >> 16)};
            text += Record(0, 0x04, upper, 2);
        }
        text += Record(offset & 0xFFFF, 0x00, &image[offset], 16);
    }
    const std::uint8_t start[4] = {0x08, 0x00, 0x00, 0x00};
    text += Record(0, 0x05, start, 4);
    text += Record(0, 0x01, nullptr, 0);
    return text;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    return static_cast<bool>(out);
}

class MemorySource : public HexByteSource {
public:
    explicit MemorySource(const std::string& text) : m_text(text) {}
    std::int64_t Read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min(size, m_text.size() - m_offset);
        std::memcpy(buffer, m_text.data() + m_offset, n);
        m_offset += n;
        return static_cast<std::int64_t>(n);
    }
    std::string ErrorText() const override { return {}; }

private:
    const std::string& m_text;
    std::size_t m_offset = 0;
};

const std::string& HexText() {
    static const std::string text = FullImageHex();
    return text;
}

std::string HexPath() {
    static const std::string path = [] {
        const auto file = std::filesystem::temp_directory_path() /
                          ("kestrel-bench-" + std::to_string(::getpid()) + ".hex");
        if (!WriteText(file.string(), HexText())) std::abort();
        return file.string();
    }();
    return path;
}

void BM_LoadHexFile(benchmark::State& state) {
    const std::string path = HexPath();
    ConsoleDialog dlg({.path = path});
    for (auto _ : state) {
        if (!LoadHexFile(dlg)) state.SkipWithError("the benchmark file did not load");
        benchmark::DoNotOptimize(g_image.data[kImageSize - 1]);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(HexText().size()));
    state.counters["file_bytes"] = static_cast<double>(HexText().size());
}
BENCHMARK(BM_LoadHexFile)->Unit(benchmark::kMicrosecond);

void BM_ReadHexRecordsFromMemory(benchmark::State& state) {
    static FirmwareImage image;
    for (auto _ : state) {
        MemorySource source(HexText());
        HexLoadReport report;
        if (ReadHexRecords(source, image, report) != HexReadOutcome::StartRecord)
            state.SkipWithError("the benchmark text did not parse");
        benchmark::DoNotOptimize(image.data[kImageSize - 1]);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(HexText().size()));
}
BENCHMARK(BM_ReadHexRecordsFromMemory)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-hex") == 0) {
        if (!WriteText(argv[2], HexText())) {
            std::cerr << "cannot write " << argv[2] << '\n';
            return 1;
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove(HexPath());
    return 0;
}
