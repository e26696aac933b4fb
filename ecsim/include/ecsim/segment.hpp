// A simulated EtherCAT segment: a line of emulated slaves that processes each
// frame in order, as real slaves on a cable do. Attach it to the master's virtual
// wire (tests) or serve it on a network interface (zrsim).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ecmaster/virtual_wire.hpp"

namespace ecsim {

enum class SlaveKind { ZR01, ZR02, ZR12, IO, CPL };

struct SlaveSpec {
    SlaveKind kind = SlaveKind::IO;
    // Bridges only: which of the four channels have a motor attached.
    std::array<bool, 4> motors{true, true, true, true};
    // Serial number in the SII (and the bridge's 0x1018:04); 0 lets the segment
    // number the slaves by position.
    uint32_t serial = 0;
    // Size of the SII EEPROM in bytes; 0 is the usual 2048.
    size_t eepromBytes = 0;
};

// Parses "ZR12,IO,ZR02"; a bridge may name its fitted channels, "ZR12:1-3" or
// "ZR01:124" (channels 1 to 4 by digit; "ZR01:" alone = no motors). Any slave may
// give its EEPROM size in bytes after '@': "IO@1024", "ZR12:1-3@4096". Returns
// nothing and sets `error` on a bad list.
std::optional<std::vector<SlaveSpec>> parseSlaveList(std::string_view text, std::string* error);
std::string_view kindName(SlaveKind kind);

class Slave;  // an emulated slave controller with its device model

class Segment : public ecmaster::FrameProcessor {
  public:
    explicit Segment(const std::vector<SlaveSpec>& slaves);
    ~Segment() override;
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    // Processes one frame in place (thread-safe).
    ecmaster::Delivery process(std::span<uint8_t> frame) override;

    size_t slaveCount() const;
    // Position 1..slaveCount(); for inspection and device-level set-up in tests.
    // Hold no reference across calls to process() from another thread without
    // taking lock() first.
    Slave& slave(size_t position);

    // Gives the slave at `position` another application (tests that exercise the
    // controller or the CoE server with a device of their own).
    void replaceDevice(size_t position, std::unique_ptr<class Device> device);

    // Sync manager watchdog for every slave: OP drops to SAFE-OP with error
    // 0x001B when outputs stop arriving for this long; zero switches it off.
    void setWatchdog(std::chrono::milliseconds timeout);

    // Advances time-driven behaviour without a frame (zrsim calls it periodically).
    void tick();

    // Called with the lock held after every AL state change of a slave,
    // including the fall to INIT a power cycle causes.
    using StateChangeHook = std::function<void(size_t position, uint16_t from, uint16_t to)>;
    void setStateChangeHook(StateChangeHook hook);

    // ---- faults ----
    // Positions are 1..slaveCount(); others throw std::out_of_range. A lost
    // frame has passed the slaves and is lost on its way back to the master.
    void setDropRate(double fraction);               // 0..1 of frames lost
    void setDelay(std::chrono::microseconds delay);  // every frame returns this late
    void dropNext(unsigned frames);                  // the next n frames are lost
    // Frames for which `lose` answers true, shown to it as they come back from
    // the slaves, are lost; an empty function stops it. Called with the lock held.
    using FrameLoss = std::function<bool(std::span<const uint8_t> frame)>;
    void loseWhen(FrameLoss lose);
    // A powered-off slave breaks the line: the frame turns back at the slave
    // before it (all lost when it is the first); the slaves behind it keep
    // running but see no frames.
    void powerOff(size_t position);
    // Back in INIT, station address 0, configuration reloaded from its EEPROM,
    // a freshly started application (unless a test replaced it).
    void powerOn(size_t position);
    void forceSafeOpError(size_t position, uint16_t alStatusCode = 0x001B);

    // Frames handed to process(), lost ones included (for benchmarks and tests).
    uint64_t framesProcessed() const;

    // Lock held by process(); take it to inspect slaves from another thread.
    std::unique_lock<std::mutex> lock();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ecsim
