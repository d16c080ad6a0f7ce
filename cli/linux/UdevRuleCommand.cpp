#include "cli/linux/UdevRuleCommand.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <system_error>
#include <vector>

#include "cli/CliCommon.h"

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, or "" when it cannot be read.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

bool IsUsbId(const std::string& id) {
    return id.size() == 4 && std::all_of(id.begin(), id.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// Device strings go into a comment line: printable ASCII only.
std::string CommentText(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c < 0x20 || c > 0x7e; }, '?');
    return text;
}

// A block device's name as it may appear under /sys/block: no path, no dots.
bool IsBlockName(const std::string& name) {
    return !name.empty() && name.size() <= 32 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    });
}

bool IsCandidate(const fs::path& block) {
    return ReadAttribute(block / "removable") == "1" || ReadAttribute(block / "device/type") == "5";
}

}  // namespace

UsbDriveLookup LookUpUsbDrive(const fs::path& sysRoot, const std::string& drive) {
    std::string name = drive;
    if (name.rfind("/dev/", 0) == 0) {
        name = name.substr(5);
    }
    if (!IsBlockName(name)) {
        return {std::nullopt, "\"" + drive + "\" is not a drive name such as sdb or /dev/sdb"};
    }
    std::error_code error;
    fs::path node = fs::canonical(sysRoot / "block" / name, error);
    if (error) {
        return {std::nullopt, "there is no drive " + name};
    }
    const fs::path devices = fs::weakly_canonical(sysRoot / "devices", error);
    // The USB device is the nearest ancestor with both ids; its interfaces have neither.
    for (fs::path dir = node.parent_path();
         !error && dir.string().rfind(devices.string(), 0) == 0 && dir != devices;
         dir = dir.parent_path()) {
        if (fs::exists(dir / "idVendor") && fs::exists(dir / "idProduct")) {
            UsbDriveIdentity identity{
                name, ReadAttribute(dir / "idVendor"), ReadAttribute(dir / "idProduct"), {}};
            if (!IsUsbId(identity.vendorId) || !IsUsbId(identity.productId)) {
                return {std::nullopt, "the USB ids of " + name + " cannot be read"};
            }
            const std::string maker = ReadAttribute(dir / "manufacturer");
            const std::string product = ReadAttribute(dir / "product");
            std::string description = maker;
            if (!maker.empty() && !product.empty()) {
                description += ' ';
            }
            description += product;
            identity.description = CommentText(description);
            return {identity, {}};
        }
    }
    return {std::nullopt, name + " is not attached over USB"};
}

UsbDriveLookup LookUpOnlyUsbDrive(const fs::path& sysRoot) {
    std::vector<UsbDriveIdentity> found;
    std::error_code error;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(sysRoot / "block", error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!IsCandidate(sysRoot / "block" / name)) {
            continue;
        }
        UsbDriveLookup lookup = LookUpUsbDrive(sysRoot, name);
        if (lookup.identity) {
            found.push_back(*lookup.identity);
        }
    }
    if (found.empty()) {
        return {std::nullopt, "no removable drive is attached over USB: attach the device"};
    }
    if (found.size() > 1) {
        std::string list;
        for (const auto& identity : found) {
            list += (list.empty() ? "" : ", ") + identity.drive;
        }
        return {std::nullopt, "several removable drives are attached over USB (" + list +
                                  "): name the device's drive"};
    }
    return {found.front(), {}};
}

std::string UdevRuleFile(const UsbDriveIdentity& identity) {
    // One file per device model: a second model's rule goes beside the first, not over it.
    return "/etc/udev/rules.d/70-kestrel-" + identity.vendorId + "-" + identity.productId +
           ".rules";
}

std::string FormatUdevRule(const UsbDriveIdentity& identity) {
    const std::string ids = identity.vendorId + ":" + identity.productId;
    std::string text = "# Kestrel: the user at the seat may use the upgrade device " +
                       (identity.description.empty() ? std::string() : identity.description + " ") +
                       "(USB " + ids + "), now on " + identity.drive + ".\n";
    text += "# Install once: kestrel-cli udev-rule " + identity.drive + " | sudo tee " +
            UdevRuleFile(identity) + "\n";
    text += "#               sudo udevadm trigger --subsystem-match=block\n";
    // The whole-disk block device whose USB ancestor (SUBSYSTEMS and both ATTRS match on that
    // one device) has these ids: no partition, no other disk, no other subsystem.
    text +=
        "SUBSYSTEM==\"block\", ENV{DEVTYPE}==\"disk\", SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"" +
        identity.vendorId + "\", ATTRS{idProduct}==\"" + identity.productId +
        "\", TAG+=\"uaccess\"\n";
    return text;
}

void RegisterUdevRuleCommand(CLI::App& app, std::function<int()>* run) {
    auto drive = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "udev-rule", "Print a udev rule that gives the user at the seat access to the device");
    command->add_option("DRIVE", *drive,
                        "The device's drive, such as sdb (default: the one removable USB drive)");
    command->callback([drive, run] {
        *run = [drive] {
            const UsbDriveLookup lookup =
                drive->empty() ? LookUpOnlyUsbDrive("/sys") : LookUpUsbDrive("/sys", *drive);
            if (!lookup.identity) {
                std::cerr << "kestrel-cli udev-rule: " << lookup.error << "\n";
                return kExitFailure;
            }
            std::cout << FormatUdevRule(*lookup.identity);
            return std::cout.flush() ? kExitOk : kExitFailure;
        };
    });
}
