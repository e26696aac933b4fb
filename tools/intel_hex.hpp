// Intel-hex text of an EEPROM image, as far as the EEPROM files use it: 16-bit
// addresses, data records (type 00) and the end record. Pure functions over
// bytes; the callers own the files.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The largest EEPROM handled; no record reaches past it.
inline constexpr size_t kHexImageBytes = 32768;
inline constexpr size_t kHexRecordBytes = 32;  // data bytes per written record
inline constexpr char kHexEndRecord[] = ":00000001FF";

// Load results.
inline constexpr int kHexLoaded = 1;
inline constexpr int kHexFormatError = -2;
inline constexpr int kHexChecksumError = -3;

// Which image bytes the data records of a load gave.
using HexCoverage = std::bitset<kHexImageBytes>;

struct HexLoad {
    int result = kHexLoaded;
    uint32_t start = kHexImageBytes;  // lowest address of the accepted data records
    uint32_t length = 0;              // their highest end minus start
};

// `bytes` (at most 65536) as data records of 32 bytes from address 0, then the
// end record; upper-case digits, each line ends in "\n".
std::string FormatIntelHex(std::span<const uint8_t> bytes);

// Loads Intel-hex text into `image` and marks the bytes it stored in `loaded`
// (cleared first). Lines end in LF or CR LF; a line keeps at most 255
// characters, the 256th is dropped and the rest forms the next line. A line
// shorter than 11 characters (a blank one too), one that does not begin with
// ':', or a field of count, address, type, data or checksum that is not all hex
// digits is a format error. A record of another type than 00, or one that would
// reach past the image, is skipped. Data digits or a checksum that the line does
// not hold, or a checksum that does not match, is a checksum error. On an error
// the bytes stored before it stay in `image`.
HexLoad ParseIntelHex(std::string_view text, std::span<uint8_t, kHexImageBytes> image,
                      HexCoverage& loaded);
