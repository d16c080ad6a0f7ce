#pragma once
// The SCSI face of the virtual device, the same behind every door (umockdev, TCMU, and through
// umockdev the Wine bridge): answers the standard commands a small removable drive answers
// (INQUIRY with its vital product data, TEST UNIT READY, REQUEST SENSE, READ CAPACITY, MODE
// SENSE, READ of a blank medium, the housekeeping commands the sd driver sends at attach and
// open) and hands the three vendor opcodes to the device model. Plain logic over byte buffers,
// no kernel interface, so it is tested without a kernel and without umockdev.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "vdev/DeviceModel.h"

// SCSI status bytes we answer with.
inline constexpr std::uint8_t kScsiGood = 0x00;
inline constexpr std::uint8_t kScsiCheckCondition = 0x02;
// What a refused vendor request comes back with. A real device refuses with CHECK CONDITION,
// which the pass-through reports as a request that came back: through tcm_loop and the SCSI
// midlayer no status byte turns into a host error (tried: RESERVATION CONFLICT, TASK ABORTED,
// BUSY, sense of every key), so a refusal in this door is exactly what a real device gives.
// Transport failures come from the kernel itself: EPERM, and a removed LUN after an unplug.
inline constexpr std::uint8_t kSenseIllegalRequest = 0x05;
inline constexpr std::uint8_t kAscInvalidOpcode = 0x20;
inline constexpr std::uint8_t kAscInvalidFieldInCdb = 0x24;

inline constexpr std::size_t kFixedSenseLength = 18;

struct ScsiReply {
    std::uint8_t status = kScsiGood;
    std::array<std::uint8_t, kFixedSenseLength> sense{};  // fixed format, only with CHECK CONDITION
    bool unplugged = false;  // the model was unplugged by this request: the LUN has to go
    // What the model said to a vendor opcode (Ok for every standard command). A door whose
    // transport can carry more than a status byte shows Failed, Unplugged and PermissionDenied
    // the way the kernel would (host error, ENODEV, EPERM); the TCMU door cannot, see above.
    RequestOutcome vendorOutcome = RequestOutcome::Ok;
    // Bytes of the data buffer the command transferred (the rest is the residual count).
    std::uint32_t transferred = 0;
};

// The drive's standard INQUIRY strings, which the umockdev door's sysfs shows as well (the kernel
// fills sysfs from INQUIRY, so a real drive cannot tell two stories).
inline constexpr const char* kLunVendor = "KESTREL";
inline constexpr const char* kLunProduct = "Virtual Device";
inline constexpr const char* kLunRevision = "1.00";

struct LunIdentity {
    bool removable = true;            // INQUIRY RMB bit; clear for a fixed disk
    std::string serial = "KESTREL0";  // VPD page 0x80
    std::uint64_t blocks = 2048;      // 512-byte blocks READ CAPACITY reports
    bool cdrom = false;               // INQUIRY peripheral device type 5 instead of 0
};

// How a vendor request reaches the model; the door guards the model, not this class.
using VendorHandler =
    std::function<RequestOutcome(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                                 std::uint8_t* buffer, std::uint32_t length)>;

class ScsiResponder {
public:
    ScsiResponder(LunIdentity identity, VendorHandler vendor);

    // Executes one command. buffer holds length bytes: the data the initiator sent for a
    // write, and the place for the answer of a read (the ring hands it zeroed; bytes not
    // answered are left as they are). The direction is the one the opcode implies.
    ScsiReply Execute(const std::uint8_t* cdb, std::size_t cdbLength, std::uint8_t* buffer,
                      std::uint32_t length);
    // The same with the direction the initiator declared (SG_IO carries one): the model
    // refuses a vendor request that travels the wrong way, as the device does.
    ScsiReply Execute(const std::uint8_t* cdb, std::size_t cdbLength, bool toDevice,
                      std::uint8_t* buffer, std::uint32_t length);

    // Bytes a CDB with this operation code occupies (SCSI opcode groups), 0 when the group is
    // reserved or variable-length.
    static std::size_t CdbLengthOf(std::uint8_t opcode);

    // True for the opcodes whose data travels to the device.
    static bool IsVendorWrite(std::uint8_t opcode);
    // True for the three opcodes the device model answers (0x85, 0x86, 0x87).
    static bool IsVendorOpcode(std::uint8_t opcode);

    const LunIdentity& Identity() const { return m_identity; }

private:
    ScsiReply Inquiry(const std::uint8_t* cdb, std::uint8_t* buffer, std::uint32_t length) const;
    ScsiReply ModeSense(const std::uint8_t* cdb, bool tenByte, std::uint8_t* buffer,
                        std::uint32_t length) const;
    ScsiReply ReadCapacity10(std::uint8_t* buffer, std::uint32_t length) const;
    ScsiReply ReadCapacity16(std::uint8_t* buffer, std::uint32_t length) const;
    ScsiReply Read(std::uint64_t lba, std::uint32_t blocks, std::uint8_t* buffer,
                   std::uint32_t length) const;

    LunIdentity m_identity;
    VendorHandler m_vendor;
};

// A CHECK CONDITION reply with fixed-format sense.
ScsiReply CheckCondition(std::uint8_t senseKey, std::uint8_t asc, std::uint8_t ascq = 0);
