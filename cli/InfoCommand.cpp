#include "cli/InfoCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/CliCommon.h"
#include "image/FirmwareImage.h"

namespace {

struct InfoArgs {
    std::optional<std::string> type;
    bool json = false;
    std::string file;
};

std::string HexByte(std::uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

int RunInfo(const InfoArgs& args) {
    const ImageFileType type = ResolveImageFileType(args.type, args.file);
    ConsoleDialog dlg({.path = args.file});
    HexLoadReport report;
    if (!LoadImageFile(dlg, type, &report)) {
        TellLoadFailure(args.file, report);
        if (args.json) {
            // A script reads why the file did not load instead of parsing stderr.
            nlohmann::ordered_json out;
            out["file"] = args.file;
            out["type"] = ImageFileTypeName(type);
            out["error"] = dlg.Messages().empty() ? std::string() : dlg.Messages().back();
            if (report.refusal != HexRefusal::None) {
                out["line"] = report.refusedLine;
                out["reason"] = HexRefusalReason(report.refusal);
            } else {
                out["reason"] = LoadFailureDetail(args.file, report);
            }
            std::cout << out.dump(2) << '\n';
        }
        return kExitFailure;
    }

    const std::uint16_t end = g_image.endBlock;
    const std::string family = ImageFamilyText();
    const unsigned bootType = ImageBootType();
    const std::uint64_t skipped = report.skippedBytes;
    if (args.json) {
        nlohmann::ordered_json out;
        out["file"] = dlg.m_strProgramFile;
        out["type"] = ImageFileTypeName(type);
        out["startBlock"] = g_image.startBlock;
        out["endBlock"] = end;
        out["space"] = dlg.m_strSpace;
        out["family"] = family;
        out["chipId"] = ImageChipIdText();
        out["bootType"] = bootType;
        out["skippedBytes"] = skipped;
        std::cout << out.dump(2) << '\n';
    } else {
        std::cout << "file:       " << dlg.m_strProgramFile << '\n'
                  << "type:       " << ImageFileTypeName(type) << '\n'
                  << "startBlock: " << g_image.startBlock << '\n'
                  << "endBlock:   " << end << '\n'
                  << "space:      " << dlg.m_strSpace << '\n'
                  << "family:     " << family << '\n'
                  << "chipId:     " << ImageChipIdText() << '\n'
                  << "bootType:   " << bootType << " (0x"
                  << HexByte(static_cast<std::uint8_t>(bootType)) << ")\n";
        if (type == ImageFileType::Hex)
            std::cout << "skipped:    " << skipped << " bytes outside the image\n";
    }
    return kExitOk;
}

}  // namespace

void RegisterInfoCommand(CLI::App& app, std::function<int()>* run) {
    auto args = std::make_shared<InfoArgs>();
    CLI::App* info =
        app.add_subcommand("info", "Load an image and print its block range and trailer");
    AddTypeOption(*info, args->type);
    info->add_flag("--json", args->json, "Print one JSON object");
    info->add_option("FILE", args->file, "Raw binary or Intel HEX image")->required();
    info->callback([args, run] { *run = [args] { return RunInfo(*args); }; });
}
