#include "cli/InfoCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/CliCommon.h"
#include "image/File.h"
#include "image/FileOpen.h"
#include "image/FirmwareImage.h"
#include "image/ReleaseSignature.h"

namespace {

struct InfoArgs {
    std::optional<std::string> type;
    bool json = false;
    std::optional<std::string> allowedSigners;
    std::string file;
};

// The release signature beside the image (FILE.sig), checked against the allowed signers
// (--allowed-signers, else the site-wide file when there; without either, only against the key
// it names). Nothing when there is no signature and no allowed signers ask for one; a text for
// stderr in *error when the image or the allowed signers cannot be read.
std::optional<ReleaseSignature> CheckSignature(const InfoArgs& args, const std::string& path,
                                               std::string* error) {
    const std::optional<std::string> signersPath = AllowedSigners::FileForRun(args.allowedSigners);
    std::error_code ignored;
    if (!signersPath &&
        !std::filesystem::exists(NativePath(ReleaseSignature::PathFor(path)), ignored))
        return std::nullopt;
    std::optional<AllowedSigners> signers;
    if (signersPath) {
        signers = AllowedSigners::Read(*signersPath, error);
        if (!signers) return std::nullopt;
    }
    File file;
    std::vector<std::uint8_t> bytes;
    if (file.OpenForReading(path)) {
        std::uint8_t buffer[1 << 16];
        std::int64_t n = 0;
        while ((n = file.Read(buffer, sizeof buffer)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        if (n == 0)
            return ReleaseSignature::Check(path, bytes.data(), bytes.size(),
                                           signers ? &*signers : nullptr,
                                           static_cast<std::int64_t>(std::time(nullptr)));
    }
    *error = file.ErrorText();
    return std::nullopt;
}

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

    std::string signatureError;
    const std::optional<ReleaseSignature> signature =
        CheckSignature(args, dlg.m_strProgramFile, &signatureError);
    if (!signatureError.empty()) {
        const std::string error = "cannot check the release signature: " + signatureError;
        std::cerr << "kestrel-cli: " << error << '\n';
        if (args.json) {
            nlohmann::ordered_json out;
            out["file"] = args.file;
            out["type"] = ImageFileTypeName(type);
            out["error"] = error;
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
        if (signature) {
            nlohmann::ordered_json& sig = out["signature"];
            sig["file"] = ReleaseSignature::PathFor(dlg.m_strProgramFile);
            sig["status"] = signature->StatusName();
            sig["principal"] = signature->Signer().principal.empty()
                                   ? nlohmann::ordered_json()
                                   : nlohmann::ordered_json(signature->Signer().principal);
            sig["fingerprint"] = signature->Signer().fingerprint.empty()
                                     ? nlohmann::ordered_json()
                                     : nlohmann::ordered_json(signature->Signer().fingerprint);
            sig["message"] = signature->Text();
        }
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
        if (signature)
            std::cout << "signature:  " << signature->StatusName() << ": " << signature->Text()
                      << '\n';
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
    info->add_option("--allowed-signers", args->allowedSigners,
                     "Check FILE.sig against this allowed-signers file (default: the site-wide "
                     "file when there)");
    info->add_option("FILE", args->file, "Raw binary or Intel HEX image")->required();
    info->callback([args, run] { *run = [args] { return RunInfo(*args); }; });
}
