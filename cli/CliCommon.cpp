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

void AddLineOptions(CLI::App& command, LineOptions& options) {
    command.add_option("--record", options.record,
                       "Append a started line before each unit's start frame and a final line "
                       "after its run to FILE (JSON Lines)");
    command.add_option("--station", options.station,
                       "Station name in the record (default: host name)");
    command
        .add_option("--expect-sha256", options.expectSha256,
                    "Refuse FILE, before any device is touched, unless its SHA-256 is HEX")
        ->check(CLI::Validator(
            [](std::string& text) {
                return ApprovedImage::IsSha256Text(text) ? std::string()
                                                         : std::string("expected 64 hex digits");
            },
            "HEX"));
    command.add_option("--allowed-signers", options.allowedSigners,
                       "Refuse FILE, before any device is touched, unless FILE.sig is its release "
                       "signature by a key in this allowed-signers file (OpenSSH format; default: "
                       "the site-wide file when there)");
    command.add_option("--events", options.events,
                       "Append the line's events to FILE as versioned JSON Lines; - writes them "
                       "to standard output, which then carries nothing else");
    command.add_option("--lot", options.lot, "Work order or lot, in every record and event");
    command.add_option("--operator", options.person,
                       "Who runs the line, in every record and event");
    command
        .add_option_function<std::string>(
            "--identity",
            [&options](const std::string& how) { options.byAttachment = how == "attachment"; },
            "serial: a unit is its serial and port (default); attachment: every plug-in is a "
            "new unit, for units that share one serial")
        ->check(CLI::IsMember({"serial", "attachment"}));
}

std::optional<int> ReadRunSigners(const std::optional<std::string>& named,
                                  std::optional<AllowedSigners>* signers) {
    signers->reset();
    const std::optional<std::string> path = AllowedSigners::FileForRun(named);
    if (!path) return std::nullopt;
    std::string error;
    *signers = AllowedSigners::Read(*path, &error);
    if (*signers) return std::nullopt;
    std::cerr << "kestrel-cli: cannot check the release signature: " << error
              << "; nothing was flashed\n";
    return kExitFailure;
}

bool OpenEventFile(LineOptions& options, EventFile& file) {
    if (!options.events) return true;
    std::string error;
    if (!file.Open(*options.events, &error)) {
        std::cerr << "kestrel-cli: cannot write the events: " << error
                  << "; no device was touched\n";
        return false;
    }
    options.sinks.push_back(&file);
    return true;
}

void SayEventTrouble(const EventFile& file) {
    if (!file.Error().empty())
        std::cerr << "kestrel-cli: cannot write the events: " << file.Error() << '\n';
}
