#include "image/DerivedFiles.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>

#include "services/DialogServices.h"
#include "image/File.h"
#include "image/FirmwareImage.h"

namespace {

constexpr std::size_t kSuffixCharacters = 4;

bool BootAreaErased() {
    return std::all_of(g_image.data, g_image.data + kBootAreaSize,
                       [](std::uint8_t b) { return b == kErasedByte; });
}

// Nothing to derive from: no load has succeeded yet. The Generate buttons are disabled then,
// so only a direct caller gets here; the same words as an erased boot area tell it.
bool RefuseWithoutImage(DialogServices& dlg) {
    if (HasSendableRange(g_image)) return false;
    dlg.ShowMessage(kMsgBinIncomplete);
    return true;
}

// The pieces of one file, written in order.
struct Piece {
    const std::uint8_t* data;
    std::size_t size;
};

bool WriteWhole(DialogServices& dlg, const std::string& path, std::initializer_list<Piece> pieces) {
    if (path.empty() || path.size() >= kDerivedPathBuffer) {
        dlg.ShowMessage(kMsgOpenBinFileError);
        return false;
    }
    File file;
    if (!file.CreateForWriting(path)) {
        dlg.ShowMessage(kMsgOpenBinFileError);
        return false;
    }
    for (const Piece& piece : pieces) {
        if (!file.Write(piece.data, piece.size)) {
            // Close drops the temporary file; an earlier file of that name stays as it was.
            file.Close();
            dlg.ShowMessage(file.ErrorText());
            return false;
        }
    }
    if (!file.Commit()) {
        dlg.ShowMessage(file.ErrorText());
        return false;
    }
    return true;
}

}  // namespace

std::string BurnFilePath(const std::string& programPath) {
    std::size_t cut = programPath.size();
    for (std::size_t characters = 0; characters < kSuffixCharacters; ++characters) {
        if (cut == 0) return {};
        --cut;
        // Step back over UTF-8 continuation bytes to the start of the character.
        while (cut > 0 && (static_cast<unsigned char>(programPath[cut]) & 0xC0) == 0x80) --cut;
    }
    return programPath.substr(0, cut) + kBurnSuffix;
}

bool WriteBinFiles(DialogServices& dlg) {
    // Checked before any dialog: without a boot area there is nothing to burn.
    if (BootAreaErased()) {
        dlg.ShowMessage(kMsgBinIncomplete);
        return false;
    }
    if (RefuseWithoutImage(dlg)) return false;
    const auto path = dlg.ChooseFile(FileDialogMode::Save, kBinDefaultExtension, kBinSaveFilter);
    if (!path) return false;
    return WriteBinFilesTo(dlg, *path);
}

bool WriteBinFilesTo(DialogServices& dlg, const std::string& path) {
    if (BootAreaErased()) {
        dlg.ShowMessage(kMsgBinIncomplete);
        return false;
    }
    if (RefuseWithoutImage(dlg)) return false;

    const std::size_t length = std::size_t{g_image.endBlock} * kBlockSize;
    const std::size_t blanked = std::min<std::size_t>(length, kBootAreaSize);
    static constexpr auto kErasedBootArea = [] {
        std::array<std::uint8_t, kBootAreaSize> erased{};
        erased.fill(kErasedByte);
        return erased;
    }();
    // The boot area is blanked only in what is written, never in the image.
    if (!WriteWhole(
            dlg, path,
            {{kErasedBootArea.data(), blanked}, {g_image.data + blanked, length - blanked}}))
        return false;
    // From here on a failure leaves the program file written.
    return WriteWhole(dlg, BurnFilePath(path), {{g_image.data, length}});
}

bool WriteBodyFile(DialogServices& dlg) {
    if (RefuseWithoutImage(dlg)) return false;
    const auto path = dlg.ChooseFile(FileDialogMode::Save, kBinDefaultExtension, kBinSaveFilter);
    if (!path) return false;
    return WriteBodyFileTo(dlg, *path);
}

bool WriteBodyFileTo(DialogServices& dlg, const std::string& path) {
    if (RefuseWithoutImage(dlg)) return false;
    const std::size_t first = std::size_t{g_image.startBlock} * kBlockSize;
    const std::size_t last = std::size_t{g_image.endBlock} * kBlockSize;
    return WriteWhole(dlg, path, {{g_image.data + first, last - first}});
}
