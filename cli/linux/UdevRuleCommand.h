#pragma once
// kestrel-cli udev-rule [DRIVE]: prints a udev rule that gives the user at the seat access to
// the upgrade device on DRIVE, keyed on its USB vendor and product ids, so that no group with
// access to every disk is needed. The lookup reads sysfs on its own (under a root that tests
// can replace).

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace CLI {
class App;
}

struct UsbDriveIdentity {
    std::string drive;        // "sdb"
    std::string vendorId;     // four lower-case hex digits
    std::string productId;    // four lower-case hex digits
    std::string description;  // the device's manufacturer and product strings, may be empty
};

// A lookup's result: the identity, or the message that says why there is none.
struct UsbDriveLookup {
    std::optional<UsbDriveIdentity> identity;
    std::string error;
};

// DRIVE ("sdb" or "/dev/sdb"): the nearest USB device above its block device in sysRoot.
UsbDriveLookup LookUpUsbDrive(const std::filesystem::path& sysRoot, const std::string& drive);

// No DRIVE given: the one removable or CD-ROM drive that sits on USB.
UsbDriveLookup LookUpOnlyUsbDrive(const std::filesystem::path& sysRoot);

// Where the rule for this device model goes: /etc/udev/rules.d/70-kestrel-VVVV-PPPP.rules.
std::string UdevRuleFile(const UsbDriveIdentity& identity);

// The rule, with comment lines saying what it is for and how to install it.
std::string FormatUdevRule(const UsbDriveIdentity& identity);

void RegisterUdevRuleCommand(CLI::App& app, std::function<int()>* run);
