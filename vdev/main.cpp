#include <string_view>

#include "vdev/VdevCommand.h"
#include "vdev/tcmu/TcmuCommand.h"
#include "vdev/usb/UsbCommand.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "tcmu") return RunTcmuCommand(argc - 1, argv + 1);
    if (argc > 1 && std::string_view(argv[1]) == "usb") return RunUsbCommand(argc - 1, argv + 1);
    return RunVdevCommand(argc, argv);
}
