#pragma once
// `kestrel-vdev usb`: serves virtual devices as USB mass-storage gadgets on dummy_hcd until
// SIGINT or SIGTERM (see UsbDoor.h).
//
//   kestrel-vdev usb [--devices N] [--on K:OPTIONS]... [--at MS:+K|MS:-K]... [--ready-file FILE]
//                    [--flash-out FILE] [--verbose] [device, USB and fault options]

// argv[0] is the sub-command's name; returns the process exit status.
int RunUsbCommand(int argc, char** argv);
