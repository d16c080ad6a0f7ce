#include "vdev/tcmu/TcmuCommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "vdev/DeviceModel.h"
#include "vdev/tcmu/TcmuDoor.h"

namespace {

// "41:42:43:44:45": the five chip identification bytes in reply order.
bool ParseChipId(const std::string& text, std::array<std::uint8_t, 5>* out)
{
    unsigned b[5];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4],
                    &tail) != 5)
        return false;
    for (std::size_t i = 0; i < 5; ++i) (*out)[i] = static_cast<std::uint8_t>(b[i]);
    return true;
}

}  // namespace

int RunTcmuCommand(int argc, char** argv)
{
    CLI::App app{"Serves the virtual device as a SCSI disk of this kernel (target_core_user + "
                 "tcm_loop); needs root. Stops on SIGINT or SIGTERM."};
    app.name(argc > 0 ? argv[0] : "tcmu");

    TcmuDoorOptions options;
    DeviceConfig config;
    FaultScript faults;
    bool fixed = false;
    std::string chipId;
    unsigned boot = config.bootType;
    unsigned failCommand = 0, failWrite = 0, failRead = 0;
    int badStatus = -1, wrongBlock = -1, byte5 = -1, unplugAfter = -1;

    app.add_option("--name", options.name, "Backstore name, also the disk's serial number")
        ->capture_default_str();
    app.add_flag("--fixed", fixed, "A fixed disk (removable bit clear) that must be skipped");
    app.add_option("--size", options.sizeBytes, "Disk size in bytes")->capture_default_str();
    app.add_option("--ready-file", options.readyFile,
                   "Written with the /dev path once the disk is attached");
    app.add_option("--flash-out", options.flashDump, "Writes the device's flash here on exit");
    app.add_flag("--verbose", options.verbose, "One line per vendor request on stderr");

    app.add_option("--family", config.family, "Chip family in the query reply (ST, GD, HC)")
        ->capture_default_str();
    app.add_option("--chip-id", chipId, "Chip identification, five hex bytes: 41:42:43:44:45");
    app.add_option("--boot", boot, "Boot type byte")->check(CLI::Range(0, 255));
    app.add_option("--version", config.version, "Firmware version text (empty: no program)")
        ->capture_default_str();
    app.add_flag("--not-device", [&config](std::int64_t) { config.answersVendorCommands = false; },
                 "An ordinary disk that refuses the vendor commands");

    app.add_option("--fail-command", failCommand, "Request N fails in transport");
    app.add_option("--fail-write", failWrite, "The Nth write fails");
    app.add_option("--fail-read", failRead, "The Nth read fails");
    app.add_option("--bad-status-at-block", badStatus, "Status byte 2 is not FF for this block");
    app.add_option("--wrong-block-at-block", wrongBlock, "Status names another block");
    app.add_option("--byte5-at-block", byte5, "Status byte 5 is nonzero for this block");
    app.add_option("--unplug-after-block", unplugAfter,
                   "The LUN is removed once this block is accepted");
    app.add_option("--delay-ms", faults.delayMsPerCommand, "Delay per vendor request");
    app.add_flag("--identify-swapped", faults.identifyAnswersSwapped, "Identify answers 55 AA");

    try {
        app.parse(argc, argv);  // argv[0], the sub-command or program name, is skipped
        if (!chipId.empty() && !ParseChipId(chipId, &config.chipId))
            throw CLI::ValidationError("--chip-id", "expected five hex bytes like 41:42:43:44:45");
        if (options.sizeBytes < 512 * 64)
            throw CLI::ValidationError("--size", "at least 32768 bytes");
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    options.removable = !fixed;
    config.bootType = static_cast<std::uint8_t>(boot);
    if (failCommand > 0) faults.failCommandAt = failCommand;
    if (failWrite > 0) faults.failWriteAt = failWrite;
    if (failRead > 0) faults.failReadAt = failRead;
    auto block = [](int value) {
        return value >= 0 ? std::optional<std::uint16_t>(static_cast<std::uint16_t>(value))
                          : std::nullopt;
    };
    faults.badStatusByte2AtBlock = block(badStatus);
    faults.wrongBlockNumberAtBlock = block(wrongBlock);
    faults.nonzeroByte5AtBlock = block(byte5);
    faults.unplugAfterBlock = block(unplugAfter);

    DeviceModel model(config, faults);
    TcmuDoor door(options, model);
    return door.Run();
}
