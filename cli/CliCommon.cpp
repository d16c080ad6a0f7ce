#include "cli/CliCommon.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "app/ControlIds.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "image/RawBinaryLoader.h"

bool LoadImageFile(ConsoleDialog& dlg, ImageFileType type, HexLoadReport* report) {
    if (report != nullptr) *report = {};
    dlg.m_nFileType = type == ImageFileType::Hex ? kFileTypeHex : kFileTypeBin;
    if (type == ImageFileType::Hex) return LoadHexFile(dlg, report);
    return LoadProgramBinary(dlg);
}

void TellHexRefusal(const std::string& file, const HexLoadReport& report) {
    const std::string detail = HexRefusalText(report);
    if (!detail.empty()) std::cerr << "kestrel-cli: " << file << ": " << detail << '\n';
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

void AddTypeOption(CLI::App& command, std::optional<std::string>& type) {
    command.add_option("--type", type, "Image file type (default: .hex is Intel HEX, else bin)")
        ->check(CLI::IsMember({"bin", "hex"}));
}

void AddLineOptions(CLI::App& command, std::optional<std::string>& record,
                    std::optional<std::string>& station, std::optional<std::string>& expectSha256) {
    command.add_option("--record", record,
                       "Append a started line before each unit's start frame and a final line "
                       "after its run to FILE (JSON Lines)");
    command.add_option("--station", station, "Station name in the record (default: host name)");
    command
        .add_option("--expect-sha256", expectSha256,
                    "Refuse FILE, before any device is touched, unless its SHA-256 is HEX")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ApprovedImage::IsSha256Text(text) ? std::string()
                                                         : std::string("expected 64 hex digits");
            },
            "HEX"));
}
