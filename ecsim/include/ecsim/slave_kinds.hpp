// What each kind of simulated slave is: its slave controller (registers that
// never change, process RAM layout), its SII content and its application.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ecsim/device.hpp"
#include "ecsim/segment.hpp"

namespace ecsim {

// Where a sync manager puts a block of process data or a mailbox.
struct SmArea {
    uint8_t syncManager = 0;
    uint16_t start = 0;
    uint16_t length = 0;
    uint8_t control = 0;
};

struct SlaveConfig {
    SlaveKind kind = SlaveKind::IO;
    std::string name;  // string 1 of the SII
    uint8_t escType = 0;
    uint8_t escRevision = 0;
    uint8_t portDescriptor = 0;
    uint16_t features = 0;  // register 0x0008; bit 2 = DC
    bool eeprom8Bytes = false;
    std::optional<SmArea> writeMailbox;  // master to slave
    std::optional<SmArea> readMailbox;   // slave to master
    std::optional<SmArea> outputs;
    std::optional<SmArea> inputs;
    std::vector<uint16_t> sii;

    bool hasDc() const { return (features & 0x0004) != 0; }
};

struct Identity {
    uint32_t vendor = 0;
    uint32_t product = 0;
    uint32_t revision = 0;
};

// The identity in the SII (and, for bridges, in object 0x1018).
Identity identityOf(SlaveKind kind);
// "Torvanelix ZR12", "IO 16/16", ...
std::string deviceName(SlaveKind kind);

// `spec.serial` goes into the SII as the serial number.
SlaveConfig slaveConfigFor(const SlaveSpec& spec);
// The application of a freshly powered slave of that kind.
std::unique_ptr<Device> makeDevice(const SlaveSpec& spec);

}  // namespace ecsim
