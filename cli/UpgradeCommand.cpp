#include "cli/UpgradeCommand.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <memory>

#include "cli/CliCommon.h"
#include "cli/ConsoleInterrupt.h"
#include "cli/Terminal.h"
#include "device/UpgradeProtocol.h"
#include "image/FirmwareImage.h"

namespace {

struct UpgradeArgs {
    std::optional<std::string> type;
    bool yes = false;
    std::optional<std::string> channel;
    std::string file;
};

void PrintSummary(const ConsoleDialog& dlg, int totalBlocks) {
    std::printf("%d of %d blocks sent in %.3f s (transfers %.3f s)\n", dlg.BlocksStepped(),
                totalBlocks, dlg.RunSeconds(), dlg.TickSeconds());
    std::fflush(stdout);
}

// Stops the run the way the Cancel button does (waiting 2 s when the device was busy), which
// also closes the drive handle.
int Cancelled(ConsoleDialog& dlg) {
    std::cerr << "Interrupted: cancelling the upgrade\n";
    CancelUpgrade(dlg);
    return ConsoleInterrupt::ExitStatus();
}

int RunUpgrade(const UpgradeArgs& args) {
    ConsoleDialog dlg({.path = args.file,
                       .channelText = args.channel.value_or("0"),
                       .assumeYes = args.yes,
                       .showProgress = IsTerminal(StandardStream::Error)});
    // The Channel box's rule and message; a bad value is a usage error here.
    if (!dlg.ReadValues()) return kExitUsage;
    if (!LoadImageFile(dlg, ResolveImageFileType(args.type, args.file))) return kExitFailure;

    ConsoleInterrupt interrupt;
    const std::size_t messagesBefore = dlg.Messages().size();
    StartUpgrade(dlg);
    if (!UpgradeStartAccepted(dlg)) {
        if (ConsoleInterrupt::Requested()) return Cancelled(dlg);
        const bool failed = dlg.Messages().size() > messagesBefore;
        // Declined at the prompt, or the device's reply ended the run without a message.
        return failed ? kExitFailure : kExitDeclined;
    }

    const int totalBlocks = g_image.endBlock - g_image.startBlock;
    dlg.RunBlockTimer([&dlg] { SendNextBlock(dlg); }, [] { return ConsoleInterrupt::Requested(); });
    if (dlg.TimerArmed()) {
        // Only an interrupt leaves the loop with blocks still due.
        const int status = Cancelled(dlg);
        PrintSummary(dlg, totalBlocks);
        return status;
    }
    PrintSummary(dlg, totalBlocks);
    const bool finished = !dlg.Messages().empty() && dlg.Messages().back() == kMsgFinishOk;
    return finished ? kExitOk : kExitFailure;
}

}  // namespace

void RegisterUpgradeCommand(CLI::App& app, std::function<int()>* run) {
    auto args = std::make_shared<UpgradeArgs>();
    CLI::App* upgrade =
        app.add_subcommand("upgrade", "Check the attached device and send it the image's blocks");
    AddTypeOption(*upgrade, args->type);
    upgrade->add_flag("--yes", args->yes, "Answer OK to the confirmation prompt");
    upgrade->add_option("--channel", args->channel, "Channel value (unsigned decimal, default 0)");
    upgrade->add_option("FILE", args->file, "Raw binary or Intel HEX image")->required();
    upgrade->callback([args, run] { *run = [args] { return RunUpgrade(*args); }; });
}
