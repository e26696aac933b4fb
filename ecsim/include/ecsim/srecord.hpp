// Motorola S-record lines as the bridge's firmware loader judges them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ecsim {

struct SRecord {
    int type = 0;  // 0 header, 1..3 data, 5..6 count, 7..9 termination
    uint32_t address = 0;
    std::vector<uint8_t> data;

    bool isHeader() const { return type == 0; }
    bool isTermination() const { return type >= 7; }
};

// One line, trailing CR/LF allowed. Nothing when the line is not a well-formed
// record: wrong type, odd or non-hex digits, a count that disagrees with the
// line, an address too short for the type, or a bad checksum.
std::optional<SRecord> parseSRecord(std::string_view line);

// One record line of `type` (0..9 but 4) with its count and checksum, in
// capital hex digits, ended by CR LF; the empty text for another type or for
// more data than one record holds.
std::string formatSRecord(int type, uint32_t address, std::span<const uint8_t> data);

}  // namespace ecsim
