#include "cli/CliCommon.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "app/ControlIds.h"
#include "image/File.h"
#include "image/FirmwareImage.h"
#include "image/HexLoader.h"
#include "image/RawBinaryLoader.h"

bool LoadImageFile(ConsoleDialog& dlg, ImageFileType type, HexLoadReport* report) {
    if (report != nullptr) *report = {};
    dlg.m_nFileType = type == ImageFileType::Hex ? kFileTypeHex : kFileTypeBin;
    if (type == ImageFileType::Hex) return LoadHexFile(dlg, report);
    return LoadProgramBinary(dlg);
}

std::string LoadFailureDetail(const std::string& file, const HexLoadReport& report) {
    if (const std::string refusal = HexRefusalText(report); !refusal.empty())
        return file + ": " + refusal;
    // The loaders keep the dialog's words for a file that does not open; the file layer names
    // the path and the cause.
    File opened;
    if (!opened.OpenForReading(file)) return opened.ErrorText();
    return {};
}

void TellLoadFailure(const std::string& file, const HexLoadReport& report) {
    const std::string detail = LoadFailureDetail(file, report);
    if (!detail.empty()) std::cerr << "kestrel-cli: " << detail << '\n';
}

namespace {

// Edits (insert, delete, replace, swap two neighbours) from a to b.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                                d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

std::optional<std::string> UnknownCommandText(CLI::App& app, const std::vector<std::string>& args) {
    const auto word = std::find_if(args.begin() + (args.empty() ? 0 : 1), args.end(),
                                   [](const std::string& arg) { return arg.rfind('-', 0) != 0; });
    if (word == args.end()) return std::nullopt;
    std::string nearest;
    std::size_t best = 0;
    for (const CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        const std::string& name = command->get_name();
        if (name == *word) return std::nullopt;
        const std::size_t distance = EditDistance(*word, name);
        if (nearest.empty() || distance < best) nearest = name, best = distance;
    }
    std::string text = "unknown command '" + *word + "'";
    // Only a near miss is worth naming.
    if (!nearest.empty() && best <= std::max<std::size_t>(2, nearest.size() / 3))
        text += "; did you mean '" + nearest + "'?";
    return text + " (kestrel-cli --help lists the commands)";
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
