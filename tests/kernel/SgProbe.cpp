// kestrel-sgprobe: one raw SG_IO request with a 10-byte CDB, the way the product sends its
// vendor commands, printed in full (ioctl result, errno, SCSI status, host and driver status,
// data). The kernel tier uses it to check the transport below the product.
//
//   kestrel-sgprobe DEVICE in|out LENGTH CDB-HEX-BYTES... [-- DATA-HEX-BYTES...]
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s DEVICE in|out LENGTH CDB-BYTES... [-- DATA-BYTES...]\n",
                     argv[0]);
        return 2;
    }
    const bool toDevice = std::string(argv[2]) == "out";
    const auto length = static_cast<unsigned>(std::strtoul(argv[3], nullptr, 0));
    unsigned char cdb[16] = {};
    unsigned cdbLength = 0;
    std::vector<unsigned char> data(length, 0);
    int i = 4;
    for (; i < argc && std::string(argv[i]) != "--" && cdbLength < sizeof cdb; ++i)
        cdb[cdbLength++] = static_cast<unsigned char>(std::strtoul(argv[i], nullptr, 16));
    if (i < argc && std::string(argv[i]) == "--") ++i;
    for (std::size_t at = 0; i < argc && at < data.size(); ++i, ++at)
        data[at] = static_cast<unsigned char>(std::strtoul(argv[i], nullptr, 16));

    const int fd = ::open(argv[1], O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::printf("open=-1 errno=%d (%s)\n", errno, std::strerror(errno));
        return 1;
    }
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.cmd_len = static_cast<unsigned char>(cdbLength);
    io.cmdp = cdb;
    io.dxfer_direction = length == 0 ? SG_DXFER_NONE
                         : toDevice  ? SG_DXFER_TO_DEV
                                     : SG_DXFER_FROM_DEV;
    io.dxfer_len = length;
    io.dxferp = length == 0 ? nullptr : data.data();
    io.timeout = 20000;
    const int rc = ::ioctl(fd, SG_IO, &io);
    const int error = rc < 0 ? errno : 0;
    ::close(fd);
    std::printf("ioctl=%d errno=%d status=0x%02x host=0x%04x driver=0x%04x data=", rc, error,
                io.status, io.host_status, io.driver_status);
    if (!toDevice)
        for (std::size_t at = 0; at < data.size() && at < 64; ++at) std::printf("%02X", data[at]);
    std::printf("\n");
    return rc == 0 && io.host_status == 0 ? 0 : 1;
}
