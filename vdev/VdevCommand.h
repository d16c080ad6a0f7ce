#pragma once
// kestrel-vdev: runs a command with the virtual device attached through the umockdev door.
//
//   kestrel-vdev [device options] [fault options] [--log FILE] [--flash-out FILE] -- COMMAND...
//
// The testbed and its ioctl handlers live in this process; the command runs as a child with
// the umockdev preload library and UMOCKDEV_DIR, so its sysfs reads, opens and ioctls on the
// device nodes come back here through the testbed's sockets. A fixed disk sda is always there
// (and must be skipped); the device is the removable sdb, or sr0 with --kind cdrom.

int RunVdevCommand(int argc, char** argv);
