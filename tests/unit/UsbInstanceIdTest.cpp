// How the Windows build reads a USB disk's identity out of Windows' instance paths.
#include <gtest/gtest.h>

#include "device/UsbInstanceId.h"

TEST(UsbInstanceId, ReadsTheSerialOnlyWhereTheDeviceGaveOne) {
    const auto disk = DiskInstanceOfMountName(
        "\\??\\USBSTOR#Disk&Ven_KESTREL&Prod_Virtual_Device&Rev_1.00#KV0001&0#"
        "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}");
    ASSERT_TRUE(disk);
    EXPECT_EQ(*disk, "USBSTOR\\Disk&Ven_KESTREL&Prod_Virtual_Device&Rev_1.00\\KV0001&0");
    EXPECT_EQ(SerialOfDiskInstance(*disk), "KV0001");
    // Windows makes an instance up for a device without a serial: no serial is read from it.
    EXPECT_FALSE(SerialOfDiskInstance("USBSTOR\\Disk&Ven_A&Prod_B&Rev_1\\7&1a2b3c4d&0"));
    // A partition is named by its disk's signature, a volume by its GUID: no USB disk.
    EXPECT_FALSE(DiskInstanceOfMountName("\\??\\Volume{a1b2c3d4-0000-0000-0000-100000000000}"));

    const auto usb = ParseUsbInstanceId("USB\\VID_1D6B&PID_0104\\KV0001");
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->vendorId, "1D6B");
    EXPECT_EQ(usb->productId, "0104");
    EXPECT_EQ(usb->serial, "KV0001");
    EXPECT_FALSE(ParseUsbInstanceId("USB\\VID_1D6B&PID_0104\\5&2f3c1a&0&4"));  // made up
    EXPECT_FALSE(ParseUsbInstanceId("USB\\ROOT_HUB30\\4&1b2c&0&0"));
    EXPECT_FALSE(ParseUsbInstanceId("USBSTOR\\Disk&Ven_A&Prod_B&Rev_1\\KV0001&0"));
}
