#include "cli/GenerateCommands.h"

#include <CLI/CLI.hpp>
#include <memory>

#include "cli/CliCommon.h"
#include "image/DerivedFiles.h"

namespace {

struct GenerateArgs {
    std::optional<std::string> type;
    std::string file;
    std::string out;
};

int RunGenerate(const GenerateArgs& args, bool (*write)(DialogServices&)) {
    ConsoleDialog dlg({.path = args.file});
    if (!LoadImageFile(dlg, ResolveImageFileType(args.type, args.file))) return kExitFailure;
    dlg.SetChosenPath(args.out);
    return write(dlg) ? kExitOk : kExitFailure;
}

void Register(CLI::App& app, std::function<int()>* run, const char* name, const char* help,
              const char* outHelp, bool (*write)(DialogServices&)) {
    auto args = std::make_shared<GenerateArgs>();
    CLI::App* command = app.add_subcommand(name, help);
    AddTypeOption(*command, args->type);
    command->add_option("FILE", args->file, "Raw binary or Intel HEX image")->required();
    // An empty OUT would read as a cancelled dialog and write nothing.
    command->add_option("OUT", args->out, outHelp)->required()->check([](const std::string& out) {
        return out.empty() ? std::string("OUT is empty") : std::string();
    });
    command->callback(
        [args, run, write] { *run = [args, write] { return RunGenerate(*args, write); }; });
}

}  // namespace

void RegisterGenerateCommands(CLI::App& app, std::function<int()>* run) {
    Register(app, run, "gen-bin",
             "Write the program file (boot area blanked) and its _BURN.bin burn file",
             "Program file; \".bin\" is added to a name without extension", &WriteBinFiles);
    Register(app, run, "gen-body", "Write the body file: the blocks from the marker block on",
             "Body file; \".bin\" is added to a name without extension", &WriteBodyFile);
}
