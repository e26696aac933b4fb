// The NIC back ends under the port (port.cpp): each sends whole frames and
// receives whole frames with a deadline, from several threads at once for
// sending and from one thread at a time for receiving.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace ecmaster::detail {

using Clock = std::chrono::steady_clock;

class Nic {
  public:
    virtual ~Nic() = default;
    virtual bool send(std::span<const uint8_t> frame) = 0;
    // Bytes received into `buf`, 0 when the deadline passed, -1 on a failure.
    virtual int receive(std::span<uint8_t> buf, Clock::time_point deadline) = 0;
};

// The virtual wire attached under `name` (virtual_wire.cpp), or null when none is.
std::shared_ptr<Nic> openVirtualNic(const std::string& name);
// A raw socket on the interface `ifname` (raw_nic.cpp), or null on failure.
std::shared_ptr<Nic> openRawNic(const std::string& ifname);

}  // namespace ecmaster::detail
