#include "vdev/tcmu/TcmuCommand.h"

// Stand-alone TCMU door, the same as `kestrel-vdev tcmu`, for hosts without umockdev.
int main(int argc, char** argv) { return RunTcmuCommand(argc, argv); }
