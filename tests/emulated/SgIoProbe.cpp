// A stand-alone client for the kestrel-vdev tests: it talks to a device node with raw SG_IO,
// independent of the product's transport, so the tests can see a child's requests reach the
// model that lives in the kestrel-vdev process.
//
//   kestrel_sgio_probe identify NODE   prints the 2-byte reply
//   kestrel_sgio_probe block NODE      query, start frame 16..17, one block; prints the status

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool Send(int fd, std::uint8_t opcode, bool toDevice, std::vector<std::uint8_t>& data) {
    const auto length = static_cast<std::uint32_t>(data.size());
    std::uint8_t cdb[10] = {opcode,
                            0,
                            static_cast<std::uint8_t>(length >> 24),
                            static_cast<std::uint8_t>(length >> 16),
                            static_cast<std::uint8_t>(length >> 8),
                            static_cast<std::uint8_t>(length),
                            0,
                            2,
                            0,
                            0};
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    hdr.dxfer_direction = toDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
    hdr.cmd_len = sizeof cdb;
    hdr.cmdp = cdb;
    hdr.dxfer_len = length;
    hdr.dxferp = data.data();
    hdr.timeout = 2000000;
    if (ioctl(fd, SG_IO, &hdr) != 0) {
        std::printf("ioctl failed: %s\n", std::strerror(errno));
        return false;
    }
    if (hdr.host_status != 0) {
        std::printf("host status %u\n", hdr.host_status);
        return false;
    }
    return true;
}

void Print(const std::vector<std::uint8_t>& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::printf(i == 0 ? "%02X" : " %02X", bytes[i]);
    }
    std::printf("\n");
}

std::uint8_t Xor(const std::vector<std::uint8_t>& bytes) {
    std::uint8_t x = 0;
    for (auto b : bytes) {
        x = static_cast<std::uint8_t>(x ^ b);
    }
    return x;
}

bool OneBlock(int fd) {
    std::vector<std::uint8_t> query = {0xF6, 0x00, 0xE8, 0, 0, 0, 0xE8, 0xF6};
    std::vector<std::uint8_t> reply(27);
    std::vector<std::uint8_t> start = {0xF6, 0x00, 0xFF, 0x01, 0x00, 0x11, 0xEF, 0xF6};
    if (!Send(fd, 0x86, true, query) || !Send(fd, 0x85, false, reply) ||
        !Send(fd, 0x86, true, start)) {
        return false;
    }
    for (unsigned i = 0; i < 4; ++i) {
        std::vector<std::uint8_t> chunk(i < 3 ? 320 : 64);
        for (std::size_t j = 0; j < chunk.size(); ++j) {
            chunk[j] = static_cast<std::uint8_t>(i * 320 + j);
        }
        chunk.push_back(Xor(chunk));
        if (!Send(fd, 0x86, true, chunk)) {
            return false;
        }
    }
    std::vector<std::uint8_t> status(8);
    if (!Send(fd, 0x85, false, status)) {
        return false;
    }
    Print(status);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kestrel_sgio_probe identify|block NODE\n");
        return 2;
    }
    const int fd = open(argv[2], O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::printf("open failed: %s\n", std::strerror(errno));
        return 1;
    }
    bool ok = false;
    if (std::string(argv[1]) == "identify") {
        std::vector<std::uint8_t> reply(2);
        ok = Send(fd, 0x87, false, reply);
        if (ok) {
            Print(reply);
        }
    } else {
        ok = OneBlock(fd);
    }
    close(fd);
    return ok ? 0 : 1;
}
