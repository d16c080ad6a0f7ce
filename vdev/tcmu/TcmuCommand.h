#pragma once
// `kestrel-vdev tcmu`: serves the virtual device as a real SCSI disk through target_core_user
// and tcm_loop until SIGINT or SIGTERM. As root, with configfs mounted and both modules loaded.
//
//   kestrel-vdev tcmu [--name NAME] [--fixed] [--size BYTES] [--ready-file FILE]
//                     [--flash-out FILE] [--verbose] [device options] [fault options]

// argv[0] is the sub-command's name; returns the process exit status.
int RunTcmuCommand(int argc, char** argv);
