#pragma once
// The analysis that ends every load: find the "PORI" marker block, compute the block range,
// check the trailer's chip family, then commit the loaded record and update the dialog.

#include <cstdint>
#include <string>

#include "image/FirmwareImage.h"

class DialogServices;

inline constexpr char kMsgFileReadError[] = "File read error!";

struct LoadAnalysisResult {
    std::uint16_t startBlock = kImageBlocks;  // marker block, 512 when there is none
    std::uint16_t endBlock = kImageBlocks;
    bool markerFound = false;
    bool familyValid = false;
    bool Accepted() const { return markerFound && familyValid; }
};

// Pure analysis of an image whose effective length is `length` bytes.
LoadAnalysisResult AnalyseImage(const FirmwareImage& image, std::uint32_t length);

// "ST", "GD" or "HC", first letter then second.
bool IsValidChipFamily(std::uint8_t first, std::uint8_t second);

// "Space (16-100K)".
std::string SpaceText(std::uint16_t startBlock, std::uint16_t endBlock);

// Loaders start here: fills the scratch record with erased flash (0xFF).
FirmwareImage& BeginImageLoad();

// Ends a load into the scratch record. On success the record becomes g_image (data and range)
// and the dialog shows the loaded image (DialogServices::ShowLoadedImage). On
// failure "File read error!" is shown and g_image, the path and the space text stay as they were.
bool FinishImageLoad(DialogServices& dlg, std::uint32_t length, const std::string& path);

// A check between a load's own checks and its commit (the dialog's release signature, see
// ReleaseGate): when set, an image it refuses is not committed; it has shown why.
using LoadCommitCheck = bool (*)(DialogServices& dlg);
void SetLoadCommitCheck(LoadCommitCheck check);
