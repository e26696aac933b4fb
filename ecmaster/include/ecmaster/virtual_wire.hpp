// An in-process wire: test code attaches a frame processor (a simulated segment)
// under an interface name; ec_init() with that name then talks to it instead of a
// network interface. Not a user-visible feature.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace ecmaster {

// What became of a frame sent into the wire.
struct Delivery {
    bool lost = false;                   // the frame never comes back
    std::chrono::microseconds delay{0};  // it comes back this much later
};

// Something on the far end of a wire that processes each frame in place, as a
// line of slaves does, and sends it back. Called from the sending thread; an
// implementation serialises itself.
class FrameProcessor {
  public:
    virtual ~FrameProcessor() = default;
    virtual Delivery process(std::span<uint8_t> frame) = 0;
};

// Attaching under a name already in use replaces the processor. The wire keeps
// the processor alive while a master has it open.
void attachVirtualWire(const std::string& name, std::shared_ptr<FrameProcessor> processor);
void detachVirtualWire(const std::string& name);

}  // namespace ecmaster
