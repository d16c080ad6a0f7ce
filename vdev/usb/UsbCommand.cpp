#include "vdev/usb/UsbCommand.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

#include "vdev/VdevOptions.h"
#include "vdev/usb/UsbDoor.h"

namespace {

constexpr unsigned kMaxDevices = 8;

// The options one device takes, on the command line for all and after --on K: for device K.
struct DeviceOptions {
    UsbDeviceSetup setup;
    VdevDeviceOptions model;
    std::string vendorId = "1d6b";
    std::string productId = "0104";
    std::string subclass = "06";

    void AddTo(CLI::App& app) {
        auto usb = app.add_option_group("USB");
        usb->add_option("--vid", vendorId, "USB vendor id, 4 hex digits")->capture_default_str();
        usb->add_option("--pid", productId, "USB product id, 4 hex digits")->capture_default_str();
        usb->add_option("--manufacturer", setup.manufacturer, "iManufacturer string")
            ->capture_default_str();
        usb->add_option("--product", setup.product, "iProduct string")->capture_default_str();
        usb->add_option("--serial", setup.serial, "iSerial (default KV0001, KV0002, ...)");
        usb->add_option("--subclass", subclass,
                        "interface subclass: 06 SCSI, or 02 ATAPI (every command padded to 12)")
            ->check(CLI::IsMember({"06", "02", "6", "2"}))
            ->capture_default_str();
        usb->add_flag("--cdrom", setup.cdrom, "a CD-ROM drive (sr) instead of a removable disk");
        usb->add_option("--stall-at", setup.stallAt,
                        "the Nth vendor request fails with its data stage stalled");
        usb->add_option("--phase-error-at", setup.phaseErrorAt,
                        "the Nth vendor request is answered with a phase error (the host then "
                        "resets the device)");
        model.AddTo(app);
    }

    UsbDeviceSetup Finish() {
        model.Finish();
        const auto hex16 = [](const std::string& text, const char* what) {
            unsigned value = 0;
            int used = 0;
            if (text.size() != 4 || std::sscanf(text.c_str(), "%4x%n", &value, &used) != 1 ||
                used != 4)
                throw CLI::ValidationError(what, "expected 4 hex digits, got '" + text + "'");
            return static_cast<std::uint16_t>(value);
        };
        UsbDeviceSetup out = setup;
        out.vendorId = hex16(vendorId, "--vid");
        out.productId = hex16(productId, "--pid");
        out.subclass = static_cast<std::uint8_t>(std::stoul(subclass, nullptr, 16));
        out.config = model.config;
        out.faults = model.faults;
        return out;
    }
};

// "MS:+K" plugs device K in MS ms after the start, "MS:-K" pulls it out.
UsbPlugEvent ParsePlugEvent(const std::string& text, unsigned devices) {
    unsigned long ms = 0;
    unsigned long k = 0;
    char sign = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%lu:%c%lu%n", &ms, &sign, &k, &used) != 3 ||
        static_cast<std::size_t>(used) != text.size() || (sign != '+' && sign != '-') || k < 1 ||
        k > devices)
        throw CLI::ValidationError("--at", "expected MS:+K or MS:-K with K from 1 to " +
                                               std::to_string(devices) + ", got '" + text + "'");
    return {std::chrono::milliseconds(ms), static_cast<unsigned>(k - 1), sign == '+'};
}

}  // namespace

int RunUsbCommand(int argc, char** argv) {
    CLI::App app{
        "Serves virtual devices as USB mass-storage devices of this kernel (FunctionFS gadgets "
        "on dummy_hcd, one UDC each); needs root, configfs, dummy_hcd num=N, libcomposite and "
        "usb_f_fs. Stops on SIGINT or SIGTERM."};
    app.name("kestrel-vdev usb");
    UsbDoorOptions options;
    DeviceOptions all;
    unsigned devices = 1;
    std::vector<std::string> perDevice;
    std::vector<std::string> plugTexts;
    std::vector<unsigned> unplugged;
    app.add_option("--devices", devices, "serve N devices, each with its own UDC, flash and serial")
        ->check(CLI::Range(1U, kMaxDevices));
    app.add_option("--on", perDevice,
                   "K:OPTIONS  device K (from 1) also gets these device, USB and fault options; "
                   "e.g. --on '2:--serial X --fail-write 7'")
        ->allow_extra_args(false);
    app.add_option("--at", plugTexts,
                   "MS:+K / MS:-K  plug device K in (bind its UDC) / pull it out (unbind), MS ms "
                   "after the start; a device whose first event is + starts unplugged")
        ->allow_extra_args(false);
    app.add_option("--unplugged", unplugged, "device K (from 1) starts out unplugged")
        ->allow_extra_args(false);
    app.add_option("--plug-file", options.plugFile,
                   "plug commands appended to FILE while the door runs, one a line: +K plugs "
                   "device K in, -K pulls it out");
    app.add_option("--ready-file", options.readyFile,
                   "written with the /dev nodes of the devices plugged in at the start, once the "
                   "kernel has attached them");
    app.add_option("--flash-out", options.flashOut,
                   "each device's flash at exit (FILE, or FILE.1, FILE.2, ... with several)");
    app.add_flag("--verbose", options.verbose, "one line per vendor request on stderr");
    all.AddTo(app);

    try {
        app.parse(argc, argv);  // argv[0], the sub-command's name, is skipped
        for (unsigned i = 0; i < devices; ++i) {
            DeviceOptions one = all;
            for (const std::string& text : perDevice) {
                unsigned k = 0;
                int used = 0;
                if (std::sscanf(text.c_str(), "%u:%n", &k, &used) != 1 || used == 0 || k < 1 ||
                    k > devices)
                    throw CLI::ValidationError(
                        "--on", "expected K:OPTIONS with K from 1 to " + std::to_string(devices));
                if (k != i + 1) continue;
                CLI::App sub{"device options"};
                one.model.Finish();  // what the whole command line said stays the default
                one.AddTo(sub);
                sub.parse(text.substr(static_cast<std::size_t>(used)), false);
            }
            UsbDeviceSetup setup = one.Finish();
            if (setup.serial.empty()) {
                char serial[16];
                std::snprintf(serial, sizeof serial, "KV%04u", i + 1);
                setup.serial = serial;
            }
            options.devices.push_back(setup);
        }
        for (const std::string& text : plugTexts)
            options.schedule.push_back(ParsePlugEvent(text, devices));
        for (const unsigned k : unplugged) {
            if (k < 1 || k > devices)
                throw CLI::ValidationError("--unplugged",
                                           "expected K from 1 to " + std::to_string(devices));
            options.unplugged.push_back(k - 1);
        }
        std::stable_sort(options.schedule.begin(), options.schedule.end(),
                         [](const UsbPlugEvent& a, const UsbPlugEvent& b) { return a.at < b.at; });
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    return RunUsbDoor(options);
}
