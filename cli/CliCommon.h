#pragma once
// What the sub-commands share: exit statuses, the file type rule and loading an image.

#include <optional>
#include <string>

#include "cli/ConsoleDialog.h"
#include "image/HexLoader.h"

namespace CLI {
class App;
}

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,  // the tool showed a failure message
    kExitUsage = 2,
    kExitDeclined = 3,  // declined at a prompt, or the device ended the run without a message
};

enum class ImageFileType { Bin, Hex };

// --type bin|hex, or from the extension: ".hex" in any case is Intel HEX, anything else raw.
ImageFileType ResolveImageFileType(const std::optional<std::string>& type, const std::string& path);
const char* ImageFileTypeName(ImageFileType type);

// Loads the image through the same loader Browse runs. True when the analysis accepted it.
// report, when given, receives what the HEX loader counted (zero for a raw binary).
bool LoadImageFile(ConsoleDialog& dlg, ImageFileType type, HexLoadReport* report = nullptr);

// The loaded image's trailer: family ("ST"), chip identification (bytes 2, 3, 4, 6, 7 as
// "41:42:43:44:45") and boot type (byte 5).
std::string ImageFamilyText();
std::string ImageChipIdText();
unsigned ImageBootType();

// Adds "--type bin|hex" to a sub-command.
void AddTypeOption(CLI::App& command, std::optional<std::string>& type);
// Adds what upgrade and station share for a production line: --record FILE, --station NAME
// and --expect-sha256 HEX.
void AddLineOptions(CLI::App& command, std::optional<std::string>& record,
                    std::optional<std::string>& station, std::optional<std::string>& expectSha256);
