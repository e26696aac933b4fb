// An AF_PACKET raw socket bound to one interface for EtherCAT frames
// (EtherType 0x88A4), seeing only frames that arrive from the wire.
//
// Frames arrive in a receive ring shared with the kernel (TPACKET_V2) and are
// served where they lie: a frame costs its send and, when none was waiting,
// one wait on fd(); no receive call, no copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zrsim {

class RawSocket {
  public:
    // Throws std::runtime_error with the reason (no such interface, no rights).
    explicit RawSocket(const std::string& interfaceName);
    ~RawSocket();
    RawSocket(const RawSocket&) = delete;
    RawSocket& operator=(const RawSocket&) = delete;

    // Readable while a received frame waits in the ring.
    int fd() const { return fd_; }
    // The next received frame, in the ring, writable in place until release();
    // empty when none waits. Frames this host sent, and frames too long for
    // EtherCAT, are skipped.
    std::span<uint8_t> next();
    // Gives the frame next() returned back to the kernel.
    void release();
    bool send(std::span<const uint8_t> frame);

  private:
    struct SlotHeader;
    SlotHeader* slot() const;
    bool mapRing();
    void releaseSlot();

    int fd_ = -1;
    int ifindex_ = 0;
    uint8_t* ring_ = nullptr;
    unsigned next_ = 0;  // the slot the kernel fills next
};

}  // namespace zrsim
