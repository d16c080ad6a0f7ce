#include "cli/AllDevicesRun.h"

#include <iostream>

#include "cli/ChildUpgrades.h"
#include "cli/CliCommon.h"
#include "cli/ConsoleInterrupt.h"
#include "cli/Terminal.h"
#include "device/DriveDiscovery.h"
#include "device/UpgradeProtocol.h"

std::vector<std::string> UpgradeChildOptions::ChildArguments() const {
    std::vector<std::string> args;
    if (type) args.insert(args.end(), {"--type", *type});
    if (channel) args.insert(args.end(), {"--channel", *channel});
    if (record) args.insert(args.end(), {"--record", *record});
    // "--" keeps a file name that starts with '-' a file name.
    args.insert(args.end(), {"--", file});
    return args;
}

int RunAllDevices(const UpgradeChildOptions& options) {
    // The file and the channel are checked once here, before any device is touched.
    ConsoleDialog dlg({.path = options.file, .channelText = options.channel.value_or("0")});
    if (!dlg.ReadValues()) return kExitUsage;
    if (!LoadImageFile(dlg, ResolveImageFileType(options.type, options.file))) return kExitFailure;

    // Blocks SIGINT/SIGTERM before any reader thread exists, so only the waits take them.
    ConsoleInterrupt interrupt;
    std::vector<DriveCandidate> devices;
    for (const DriveProbe& probe : ProbeCandidateDrives())
        if (probe.opened && probe.answer == IdentifyAnswer::Device) devices.push_back(probe.drive);
    if (devices.empty()) {
        dlg.ShowMessage(kMsgDeviceOpenFail);
        return kExitFailure;
    }

    ChildUpgrades runs(options.ChildArguments(), IsTerminal(StandardStream::Error));
    int succeeded = 0;
    int failed = 0;
    for (const DriveCandidate& drive : devices) {
        std::string error;
        if (!runs.Start(drive, ReadDriveIdentity(drive), &error)) {
            runs.Print(drive.name + "  kestrel-cli: " + error);
            ++failed;
        }
    }
    bool interrupted = false;
    while (runs.Running() > 0) {
        for (const UnitResult& result : runs.Poll(std::chrono::milliseconds(50)))
            ++(result.status == kExitOk ? succeeded : failed);
        if (ConsoleInterrupt::Requested() && !interrupted) {
            interrupted = true;
            std::cerr << "Interrupted: cancelling every upgrade\n";
            runs.InterruptAll();
        }
    }
    std::cout << devices.size() << (devices.size() == 1 ? " device: " : " devices: ") << succeeded
              << " succeeded, " << failed << " failed\n";
    if (interrupted) return ConsoleInterrupt::ExitStatus();
    return failed == 0 ? kExitOk : kExitFailure;
}
