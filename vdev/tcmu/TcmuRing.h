#pragma once
// The command ring of a target_core_user device, as the kernel lays it out in the region that
// userspace maps from the device's uio node: a mailbox, the ring of command entries, and the
// data area the entries' iovecs point into (offsets from the start of the region). This class
// only walks the ring; opening, mapping and waking the kernel belong to the door.

#include <cstddef>
#include <cstdint>

#include "vdev/ScsiResponder.h"

struct RingPass {
    unsigned entries = 0;    // entries consumed (commands, padding, the rest)
    unsigned commands = 0;   // SCSI commands answered
    bool unplugged = false;  // a reply asked for the LUN to be removed
};

class TcmuRing {
public:
    // base and size describe the whole mapped region; both stay valid while this object lives.
    TcmuRing(std::uint8_t* base, std::size_t size, ScsiResponder& responder);

    // False when the mailbox does not describe a ring this code understands (wrong version, ring
    // outside the region).
    bool Valid() const { return m_valid; }

    // Answers every entry between the tail and the head, then publishes the new tail. The caller
    // wakes the kernel when anything was consumed.
    RingPass ProcessPending();

private:
    void HandleCommand(std::uint8_t* entry, std::uint32_t entryLength, RingPass* pass);

    std::uint8_t* m_base;
    std::size_t m_size;
    ScsiResponder& m_responder;
    std::uint32_t m_ringOffset = 0;
    std::uint32_t m_ringSize = 0;
    bool m_valid = false;
};
