// kestrel-cli udev-rule's sysfs lookup and rule, on a small sysfs tree laid out like the
// kernel's: a USB stick behind a root hub, and a SATA disk.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include <fstream>

#include "cli/linux/UdevRuleCommand.h"

namespace fs = std::filesystem;
using testing::HasSubstr;

namespace {

class FakeSysfs {
public:
    FakeSysfs()
        : m_root(fs::temp_directory_path() / ("kestrel-sysfs-" + std::to_string(::getpid()))) {
        fs::remove_all(m_root);
        const fs::path hub = "devices/pci0000:00/0000:00:14.0/usb2";
        Write(hub / "idVendor", "1d6b");  // the root hub has ids too; the stick is nearer
        Write(hub / "idProduct", "0002");
        AddDisk("sda", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "0");
    }
    ~FakeSysfs() { fs::remove_all(m_root); }

    void AddUsbStick(const std::string& name, const std::string& port, const std::string& vendor,
                     const std::string& product) {
        const fs::path usb = "devices/pci0000:00/0000:00:14.0/usb2/" + port;
        Write(usb / "idVendor", vendor);
        Write(usb / "idProduct", product);
        Write(usb / "manufacturer", "VANTO");
        Write(usb / "product", "Upgrader\x01");
        AddDisk(name, usb / (port + ":1.0/host3/target3:0:0/3:0:0:0"), "1");
    }

    const fs::path& Root() const { return m_root; }

private:
    void Write(const fs::path& file, const std::string& text) {
        fs::create_directories((m_root / file).parent_path());
        std::ofstream(m_root / file) << text << "\n";
    }
    void AddDisk(const std::string& name, const fs::path& scsiDevice,
                 const std::string& removable) {
        Write(scsiDevice / "type", "0");
        Write(scsiDevice / "block" / name / "removable", removable);
        fs::create_directories(m_root / "block");
        fs::create_directory_symlink(fs::path("..") / scsiDevice / "block" / name,
                                     m_root / "block" / name);
    }

    fs::path m_root;
};

}  // namespace

TEST(UdevRule, NamedUsbDriveGivesARuleOnItsOwnIds) {
    FakeSysfs sys;
    sys.AddUsbStick("sdb", "2-1", "abcd", "0042");
    for (const char* name : {"sdb", "/dev/sdb"}) {
        const UsbDriveLookup lookup = LookUpUsbDrive(sys.Root(), name);
        ASSERT_TRUE(lookup.identity) << lookup.error;
        EXPECT_EQ(lookup.identity->drive, "sdb");
        EXPECT_EQ(lookup.identity->vendorId, "abcd");
        EXPECT_EQ(lookup.identity->productId, "0042");
        EXPECT_EQ(lookup.identity->description, "VANTO Upgrader?");
    }
    const std::string rule = FormatUdevRule(*LookUpUsbDrive(sys.Root(), "sdb").identity);
    EXPECT_THAT(rule, HasSubstr("SUBSYSTEM==\"block\", ENV{DEVTYPE}==\"disk\", "
                                "SUBSYSTEMS==\"usb\", ATTRS{idVendor}==\"abcd\", "
                                "ATTRS{idProduct}==\"0042\", TAG+=\"uaccess\"\n"));
    EXPECT_THAT(rule, HasSubstr("sudo tee /etc/udev/rules.d/70-kestrel-abcd-0042.rules\n"));
    EXPECT_THAT(rule, testing::Not(HasSubstr("GROUP")));
}

TEST(UdevRule, WithoutADriveTheOneRemovableUsbDriveIsTaken) {
    FakeSysfs sys;
    EXPECT_THAT(LookUpOnlyUsbDrive(sys.Root()).error, HasSubstr("no removable drive"));
    sys.AddUsbStick("sdb", "2-1", "abcd", "0042");
    const UsbDriveLookup one = LookUpOnlyUsbDrive(sys.Root());
    ASSERT_TRUE(one.identity) << one.error;
    EXPECT_EQ(one.identity->drive, "sdb");
    sys.AddUsbStick("sdc", "2-2", "abcd", "0043");
    const UsbDriveLookup two = LookUpOnlyUsbDrive(sys.Root());
    EXPECT_FALSE(two.identity);
    EXPECT_THAT(two.error, HasSubstr("(sdb, sdc)"));
}

TEST(UdevRule, DrivesThatCannotBeKeyedAreRefused) {
    FakeSysfs sys;
    EXPECT_THAT(LookUpUsbDrive(sys.Root(), "sda").error, HasSubstr("sda is not attached over USB"));
    EXPECT_THAT(LookUpUsbDrive(sys.Root(), "sdz").error, HasSubstr("there is no drive sdz"));
    for (const char* name : {"../block/sda", "", "/dev/", "sd b"}) {
        EXPECT_THAT(LookUpUsbDrive(sys.Root(), name).error, HasSubstr("is not a drive name"));
    }
    sys.AddUsbStick("sdb", "2-1", "ABCD\"", "0042");  // never copied into the rule
    EXPECT_THAT(LookUpUsbDrive(sys.Root(), "sdb").error,
                HasSubstr("USB ids of sdb cannot be read"));
}
