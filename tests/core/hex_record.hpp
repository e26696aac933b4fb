// One Intel-hex record line as a file would hold it, without the line end,
// built apart from the tool's writer so that tests can check it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

inline std::string HexRecord(uint32_t address, const std::vector<uint8_t>& data, int type = 0) {
    char field[16];
    std::snprintf(field, sizeof field, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address,
                  type);
    std::string line = field;
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF) +
                   static_cast<unsigned>(type);
    for (uint8_t b : data) {
        std::snprintf(field, sizeof field, "%02X", b);
        line += field;
        sum += b;
    }
    std::snprintf(field, sizeof field, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + field;
}

}  // namespace testsupport
