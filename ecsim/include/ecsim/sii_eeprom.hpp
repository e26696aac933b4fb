// The SII EEPROM behind registers 0x0500-0x050F of an emulated slave controller:
// ownership between the master and the slave's processor, read/write/reload
// commands with their error bits, and the busy time a write takes.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "ecsim/device.hpp"

namespace ecsim {

class SiiEeprom {
  public:
    SiiEeprom(std::vector<uint16_t> image, bool reads8Bytes);

    // Register 0x0500 written: bit 0 assigns the EEPROM to the slave's processor,
    // bit 1 forces it back to the master.
    void setConfig(uint8_t value);
    bool pdiOwns() const { return pdiOwns_; }

    struct Result {
        bool dataReady = false;  // `data` holds what a read command fetched
        bool reloaded = false;   // a reload command ran: the caller refreshes
        std::array<uint8_t, 8> data{};
    };
    // Register 0x0502 written by the master with `control`; `address` and
    // `writeData` are the current contents of 0x0504 and 0x0508.
    Result command(uint16_t control, uint32_t address, uint16_t writeData, Clock::time_point now);

    // The status word the master reads at 0x0502.
    uint16_t status(Clock::time_point now) const;

    // Power-up: the processor releases the EEPROM, errors clear and the
    // configuration area is checked again.
    void reset();

    uint16_t word(size_t address) const;
    std::span<const uint16_t> words() const { return image_; }
    bool headerValid() const;

  private:
    std::vector<uint16_t> image_;
    bool reads8Bytes_;
    bool pdiOwns_ = false;
    bool checksumError_ = false;  // of the configuration area at the last load
    uint16_t errors_ = 0;
    Clock::time_point busyUntil_{};
};

}  // namespace ecsim
