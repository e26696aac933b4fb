// One emulated slave controller (ESC): register space and process RAM, AL state
// machine, SII EEPROM interface, sync managers (mailbox and buffered), FMMUs and
// distributed-clock time stamps, with a device model on its application side.
// Not thread-safe: the segment calls it under its lock.
#pragma once

#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "ecmaster/codec.hpp"
#include "ecsim/device.hpp"
#include "ecsim/sii_eeprom.hpp"
#include "ecsim/slave_kinds.hpp"

namespace ecsim {

// How a frame meets this slave on its way along the line.
struct FramePass {
    Clock::time_point now;
    int64_t arrivalNs = 0;        // global time the frame reaches port 0
    int64_t returnAfterNs = 0;    // until it comes back through port 1 (0 = port 1 closed)
    bool downstreamLink = false;  // a powered slave is connected at port 1
};

class Slave {
  public:
    static constexpr uint32_t kMemorySize = ecat::reg::RegisterSpaceSize + 8 * 1024;
    static constexpr size_t kSyncManagers = 8;
    static constexpr size_t kFmmus = 8;
    // Replies the slave holds for the master besides the one in its read
    // mailbox; while they are all taken it leaves a new request in the write
    // mailbox, which then refuses further writes.
    static constexpr size_t kQueuedMailboxReplies = 16;

    using StateHook = std::function<void(uint16_t from, uint16_t to)>;

    // `clockOffsetNs` sets this slave's local clock apart from the others', as
    // free-running clocks are.
    Slave(SlaveConfig config, std::unique_ptr<Device> device, int64_t clockOffsetNs);

    // ---- the segment drives these, in frame order ----
    void beginFrame(const FramePass& pass);
    void process(ecat::Datagram& datagram);
    void endFrame();
    // Time-driven behaviour without a frame: SM watchdog and device tick.
    void tick(Clock::time_point now);

    // ---- power and faults ----
    // Resets the controller as a power cycle does: INIT, station address 0,
    // registers to their defaults, configuration reloaded from the EEPROM.
    void powerOn(std::unique_ptr<Device> freshDevice);
    // SAFE-OP with error from SAFE-OP or OP; below SAFE-OP the error flag and
    // code are set in the current state.
    void forceSafeOpError(uint16_t alStatusCode);
    void setWatchdog(std::chrono::milliseconds timeout) { watchdog_ = timeout; }
    // Called after every AL state change (not for an error flag alone).
    void setStateHook(StateHook hook) { stateHook_ = std::move(hook); }

    // ---- inspection ----
    const SlaveConfig& config() const { return config_; }
    uint16_t alStatus() const { return ecat::get16(&mem_[ecat::reg::AlStatus]); }
    uint16_t alState() const { return alStatus() & ecat::al::StateMask; }
    uint16_t alStatusCode() const { return ecat::get16(&mem_[ecat::reg::AlStatusCode]); }
    uint16_t stationAddress() const { return ecat::get16(&mem_[ecat::reg::StationAddress]); }
    // Raw register/RAM contents, no side effects.
    std::span<const uint8_t> memory() const { return mem_; }
    const SiiEeprom& eeprom() const { return eeprom_; }
    Device& device() { return *device_; }
    void replaceDevice(std::unique_ptr<Device> device) { device_ = std::move(device); }

  private:
    struct Sm;  // view of one sync manager's registers
    class Outbox;

    // Memory access as the ESC performs it for one datagram; false = refused
    // (a sync manager did not allow it, no working counter).
    bool readRange(uint32_t address, std::span<uint8_t> out, bool orInto);
    bool writeRange(uint32_t address, std::span<const uint8_t> in);
    bool smAllows(uint32_t address, size_t length, bool write) const;
    void refreshBeforeRead(uint32_t address, size_t length);
    void afterRead(uint32_t address, size_t length);
    void afterWrite(uint32_t address, std::span<const uint8_t> in);
    void registersWritten(uint32_t address, std::span<const uint8_t> in);

    void processPhysical(ecat::Datagram& d, bool addressed);
    void processLogical(ecat::Datagram& d);

    // Sync managers
    Sm sm(size_t n) const;
    bool smActive(size_t n) const;
    void smRegistersWritten(size_t n);
    void setSmFull(size_t n, bool full);
    std::span<uint8_t> smArea(const Sm& s);
    void deliverMailbox();
    void loadReadMailbox();
    void repeatReadMailbox(size_t n);
    // Recount which sync managers and FMMUs are on, after their registers changed.
    void noteSmRegisters();
    void noteFmmuRegisters();

    // AL state machine
    void alControlWritten(uint16_t control);
    uint16_t checkTransition(uint16_t from, uint16_t to);
    uint16_t checkMailboxConfig() const;
    uint16_t checkProcessDataConfig() const;
    uint16_t checkArea(const SmArea& area, bool outputs) const;
    void setAlStatus(uint16_t state, bool error, uint16_t code);
    // Moves to `to`; a non-zero `errorCode` sets the error flag with that code.
    void changeState(uint16_t to, uint16_t errorCode = 0);
    bool watchdogGuardsOutputs() const;
    void checkWatchdog(Clock::time_point now);

    // EEPROM and DC
    void eepromControlWritten(uint16_t control);
    void loadFromEeprom();
    void latchReceiveTimes();
    int64_t localTimeNs() const { return pass_.arrivalNs + clockOffsetNs_; }

    void resetRegisters();

    SlaveConfig config_;
    std::unique_ptr<Device> device_;
    SiiEeprom eeprom_;
    const std::bitset<ecat::reg::RegisterSpaceSize>& writable_;  // by the master
    std::array<uint8_t, kMemorySize> mem_{};
    // Bit n: sync manager n (FMMU n) is enabled, and what it does. Kept with
    // their registers so that a datagram visits only those that can concern it.
    struct SmRoles {
        uint8_t on = 0;
        uint8_t ecatWrites = 0;     // outputs and the write mailbox
        uint8_t readMailboxes = 0;  // the slave's replies
        uint8_t inputs = 0;         // buffered, written by the slave
    };
    SmRoles sms_;
    uint8_t fmmuOn_ = 0;
    // As long as the longest datagram an EtherCAT header can announce, not just
    // what a standard frame holds: a caller may hand us any frame.
    std::array<uint8_t, 0x07FF> scratch_{};
    FramePass pass_{};
    int64_t clockOffsetNs_ = 0;

    // Mailbox
    std::deque<std::vector<uint8_t>> outbox_;
    std::vector<uint8_t> lastSent_;
    uint8_t lastCounter_ = 0;      // of the last message handed to the device; 0 = none
    bool mailboxArrived_ = false;  // a write mailbox filled and waits for the processor

    // SM watchdog
    std::chrono::milliseconds watchdog_{100};
    Clock::time_point lastOutputs_{};

    StateHook stateHook_;
};

}  // namespace ecsim
