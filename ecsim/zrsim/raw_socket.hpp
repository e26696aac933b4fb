// An AF_PACKET raw socket bound to one interface for EtherCAT frames
// (EtherType 0x88A4), seeing only frames that arrive from the wire.
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

    // Waits for the next received frame (not one this host sent) and puts it
    // into `buffer`; returns its size, 0 when a signal came first or the frame
    // was not an EtherCAT-sized one of another host.
    size_t receive(std::span<uint8_t> buffer);
    // From any thread.
    bool send(std::span<const uint8_t> frame);

  private:
    int fd_ = -1;
    int ifindex_ = 0;
};

}  // namespace zrsim
