#pragma once
// The image file of an upgrade run or a shift, approved once: read into memory in one go,
// hashed, and loaded into the image record from those very bytes, so the hash in the record is
// the hash of what the device receives. A run started by a parent is given the parent's hash
// and refuses a file that no longer has it, before any device is touched.

#include <optional>
#include <string>

#include "image/HexLoader.h"
#include "image/ReleaseSignature.h"

class AllowedSigners;
class DialogServices;

enum class ImageFileType { Bin, Hex };

// --type bin|hex, or from the extension: ".hex" in any case is Intel HEX, anything else raw.
ImageFileType ResolveImageFileType(const std::optional<std::string>& type, const std::string& path);
const char* ImageFileTypeName(ImageFileType type);

// The loaded image's trailer: family ("ST"), chip identification (bytes 2, 3, 4, 6, 7 as
// "41:42:43:44:45") and boot type (byte 5).
std::string ImageFamilyText();
std::string ImageChipIdText();
unsigned ImageBootType();

class ApprovedImage {
public:
    // Reads the file the way Browse names it (the default extension of its type added) and
    // loads it. False when it could not be read (the dialog's open-error message, or the
    // file layer's text) or the loader refused it; the dialog has shown why.
    // With signers, the release signature beside the file is checked over the same bytes
    // (Signature()); the load itself does not depend on it.
    bool Load(DialogServices& dlg, ImageFileType type, HexLoadReport* report = nullptr,
              const AllowedSigners* signers = nullptr);

    // The file's SHA-256 as 64 lower-case hex digits, once loaded.
    const std::string& Sha256() const { return m_sha256; }
    // The release signature's check, when Load was given allowed signers.
    const std::optional<ReleaseSignature>& Signature() const { return m_signature; }
    // The path that was read.
    const std::string& Path() const { return m_path; }

    // Nothing when the loaded file has the expected hash (any case); else the message that
    // refuses it, naming the file and both hashes.
    std::optional<std::string> Refusal(const std::string& expected, const char* why) const;

    // True for 64 hex digits.
    static bool IsSha256Text(const std::string& text);

private:
    std::string m_path;
    std::string m_sha256;
    std::optional<ReleaseSignature> m_signature;
};
