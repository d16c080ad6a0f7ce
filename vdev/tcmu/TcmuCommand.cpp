#include "vdev/tcmu/TcmuCommand.h"

#include <CLI/CLI.hpp>

#include "vdev/DeviceModel.h"
#include "vdev/VdevOptions.h"
#include "vdev/tcmu/TcmuDoor.h"

int RunTcmuCommand(int argc, char** argv) {
    CLI::App app{
        "Serves the virtual device as a SCSI disk of this kernel (target_core_user and "
        "tcm_loop); needs root. Stops on SIGINT or SIGTERM."};
    app.name("kestrel-vdev tcmu");

    TcmuDoorOptions options;
    VdevDeviceOptions device;
    bool fixed = false;
    app.add_option("--name", options.name, "backstore name, also the disk's serial number")
        ->check([](const std::string& name) {
            // It becomes a configfs directory and the uio device's name.
            const bool plain = !name.empty() && name.size() <= 32 &&
                               name.find_first_not_of(
                                   "abcdefghijklmnopqrstuvwxyz"
                                   "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-") == std::string::npos;
            return plain ? std::string() : std::string("letters, digits, _ and - only (1-32)");
        })
        ->capture_default_str();
    app.add_flag("--fixed", fixed, "a fixed disk (removable bit clear), which must be skipped");
    app.add_option("--size", options.sizeBytes, "disk size in bytes")
        ->check(CLI::Range(std::uint64_t{32768}, std::uint64_t{1} << 40))
        ->capture_default_str();
    app.add_option("--ready-file", options.readyFile,
                   "written with the /dev path once sd has attached the disk");
    app.add_option("--flash-out", options.flashDump, "the device's flash, written on exit");
    app.add_flag("--verbose", options.verbose, "one line per vendor request on stderr");
    device.AddTo(app);

    try {
        app.parse(argc, argv);  // argv[0], the sub-command's name, is skipped
        device.Finish();
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    options.removable = !fixed;

    DeviceModel model(device.config, device.faults);
    TcmuDoor door(options, model);
    return door.Run();
}
