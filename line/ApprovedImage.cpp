#include "line/ApprovedImage.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "services/DialogServices.h"
#include "line/Sha256.h"
#include "image/AllowedSigners.h"
#include "image/File.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "image/LoadAnalysis.h"
#include "image/RawBinaryLoader.h"

namespace {

class MemorySource : public HexByteSource {
public:
    explicit MemorySource(const std::vector<std::uint8_t>& bytes) : m_bytes(bytes) {}
    std::int64_t Read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min(size, m_bytes.size() - m_at);
        std::memcpy(buffer, m_bytes.data() + m_at, n);
        m_at += n;
        return static_cast<std::int64_t>(n);
    }
    std::string ErrorText() const override { return {}; }

private:
    const std::vector<std::uint8_t>& m_bytes;
    std::size_t m_at = 0;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

ImageFileType ResolveImageFileType(const std::optional<std::string>& type,
                                   const std::string& path) {
    if (type) return *type == "hex" ? ImageFileType::Hex : ImageFileType::Bin;
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool hex = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".hex") == 0;
    return hex ? ImageFileType::Hex : ImageFileType::Bin;
}

const char* ImageFileTypeName(ImageFileType type) {
    return type == ImageFileType::Hex ? "hex" : "bin";
}

bool ApprovedImage::Load(DialogServices& dlg, ImageFileType type, HexLoadReport* report,
                         const AllowedSigners* signers) {
    if (report != nullptr) *report = {};
    const bool hex = type == ImageFileType::Hex;
    const std::optional<std::string> path =
        dlg.ChooseFile(FileDialogMode::Open, hex ? kHexDefaultExtension : "",
                       hex ? kHexOpenFilter : kBinOpenFilter);
    if (!path) return false;
    m_path = *path;
    m_signature.reset();
    File file;
    if (!file.OpenForReading(m_path)) {
        dlg.ShowMessage(hex ? kMsgHexOpenError : kMsgBinOpenError);
        return false;
    }
    std::vector<std::uint8_t> bytes;
    std::uint8_t buffer[1 << 16];
    for (;;) {
        const std::int64_t n = file.Read(buffer, sizeof buffer);
        if (n < 0) {
            dlg.ShowMessage(file.ErrorText());
            return false;
        }
        if (n == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    file.Close();

    ::Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    m_sha256.clear();
    for (std::uint8_t b : hash.Finish()) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", b);
        m_sha256 += digits;
    }
    if (signers != nullptr)
        m_signature = ReleaseSignature::Check(m_path, bytes.data(), bytes.size(), signers,
                                              static_cast<std::int64_t>(std::time(nullptr)));

    if (hex) {
        MemorySource source(bytes);
        return LoadHexFromSource(dlg, source, m_path, report);
    }
    FirmwareImage& scratch = BeginImageLoad();
    const std::size_t length = std::min(bytes.size(), sizeof scratch.data);
    std::memcpy(scratch.data, bytes.data(), length);
    return FinishImageLoad(dlg, static_cast<std::uint32_t>(length), m_path);
}

std::optional<std::string> ApprovedImage::Refusal(const std::string& expected,
                                                  const char* why) const {
    if (Lower(expected) == m_sha256) return std::nullopt;
    return m_path + ": sha256 " + m_sha256 + ", " + why + " " + Lower(expected);
}

bool ApprovedImage::IsSha256Text(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(),
                                            [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string ImageFamilyText() {
    return {static_cast<char>(TrailerByte(g_image, g_image.endBlock, 0)),
            static_cast<char>(TrailerByte(g_image, g_image.endBlock, 1))};
}

std::string ImageChipIdText() {
    std::string text;
    for (unsigned i : {2u, 3u, 4u, 6u, 7u}) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02X", text.empty() ? "" : ":",
                      TrailerByte(g_image, g_image.endBlock, i));
        text += byte;
    }
    return text;
}

unsigned ImageBootType() {
    return TrailerByte(g_image, g_image.endBlock, 5);
}
