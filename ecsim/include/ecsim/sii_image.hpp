// The SII EEPROM image of a simulated slave, built from a small description:
// header words (with the CRC a master checks), identity, mailbox areas, then the
// categories a master configures from.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ecsim {

struct SiiSyncManager {
    uint16_t start = 0;
    uint16_t length = 0;
    uint8_t control = 0;
    uint8_t enable = 1;
    uint8_t type = 0;  // 1 mailbox out, 2 mailbox in, 3 outputs, 4 inputs
};

struct SiiPdoEntry {
    uint16_t index = 0;
    uint8_t subindex = 0;
    uint8_t dataType = 0;
    uint8_t bitLength = 0;
};

struct SiiPdo {
    uint16_t index = 0;
    uint8_t syncManager = 0;
    std::vector<SiiPdoEntry> entries;
};

struct SiiDescription {
    uint16_t pdiControl = 0;
    uint16_t alias = 0;
    uint32_t vendor = 0;
    uint32_t product = 0;
    uint32_t revision = 0;
    uint32_t serial = 0;
    // Standard mailbox (SM0 master to slave, SM1 slave to master); zero = none.
    uint16_t rxMailboxOffset = 0;
    uint16_t rxMailboxSize = 0;
    uint16_t txMailboxOffset = 0;
    uint16_t txMailboxSize = 0;
    uint16_t mailboxProtocols = 0;
    // Strings category; string n is strings[n - 1]. Indexes below refer to it.
    std::vector<std::string> strings;
    uint8_t groupString = 0;
    uint8_t orderString = 0;
    uint8_t nameString = 0;
    uint8_t coeDetails = 0;
    uint8_t generalFlags = 0;
    int16_t ebusCurrent = 0;     // mA
    std::vector<uint8_t> fmmus;  // 1 outputs, 2 inputs, 3 mailbox status
    std::vector<SiiSyncManager> syncManagers;
    std::vector<SiiPdo> txPdos;  // inputs
    std::vector<SiiPdo> rxPdos;  // outputs
    size_t sizeBytes = 2048;
};

// The CRC word 7 carries, over words 0..6 of `words`.
uint8_t siiHeaderCrc(std::span<const uint16_t> words);

// The EEPROM content in words, padded with 0xFFFF to the EEPROM size. Throws
// std::invalid_argument when the description does not fit.
std::vector<uint16_t> buildSiiImage(const SiiDescription& description);

}  // namespace ecsim
