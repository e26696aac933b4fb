// The application side of an emulated slave controller: what a slave's own
// processor does behind its process data interface. The controller calls these
// with the segment's lock held, in frame order.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

namespace ecsim {

using Clock = std::chrono::steady_clock;

// Replies a device posts for the master's read mailbox; they leave in order,
// one per read, each as a complete mailbox message (6-byte header included).
class MailboxOutbox {
  public:
    virtual ~MailboxOutbox() = default;
    virtual void post(std::vector<uint8_t> message) = 0;
};

class Device {
  public:
    virtual ~Device() = default;

    // A complete message the master wrote into the write mailbox (header included,
    // trimmed to header length + 6). Repeated messages (same counter) are already
    // filtered out by the controller.
    virtual void onMailbox(std::span<const uint8_t> message, MailboxOutbox& out) {
        (void)message;
        (void)out;
    }

    // The output sync manager's buffer after the master wrote it completely.
    virtual void onOutputs(std::span<const uint8_t> outputs) { (void)outputs; }

    // Fills the input sync manager's buffer before the master reads it.
    virtual void fillInputs(std::span<uint8_t> inputs) { (void)inputs; }

    // Asked before an AL state change the controller itself accepts: 0 agrees,
    // any other value refuses it with that AL status code.
    virtual uint16_t checkStateChange(uint16_t from, uint16_t to) {
        (void)from;
        (void)to;
        return 0;
    }
    virtual void onStateChange(uint16_t from, uint16_t to) {
        (void)from;
        (void)to;
    }

    // Called for every frame the slave sees, so time-driven behaviour (homing,
    // mode display lag, erase times) advances without a thread of its own.
    virtual void tick(Clock::time_point now) { (void)now; }
};

}  // namespace ecsim
