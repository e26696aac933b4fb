#include "tools/intel_hex.hpp"

#include <algorithm>
#include <cstdio>

namespace {

constexpr size_t kMaxLineChars = 255;
constexpr size_t kMinRecordChars = 11;  // ':', count, address, type, checksum
constexpr size_t kDataColumn = 9;
constexpr size_t kMaxAddressedBytes = 0x10000;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The number written by `digits` hex digits at `at`; -1 when one is no digit.
int32_t HexField(std::string_view line, size_t at, size_t digits) {
    int32_t value = 0;
    for (size_t i = 0; i < digits; ++i) {
        const int digit = HexDigit(line[at + i]);
        if (digit < 0) return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The length of the line end at `at`: 1 for LF, 2 for CR LF, 0 for none.
size_t LineEndAt(std::string_view text, size_t at) {
    if (text[at] == '\n') return 1;
    if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') return 2;
    return 0;
}

// Takes the next line from `text` at `pos`: up to its line end, at most 255
// characters; a longer line loses its 256th character and goes on as the next.
// A last line without a line end is a line too.
std::string_view NextLine(std::string_view text, size_t& pos) {
    const size_t begin = pos;
    size_t end = begin;
    while (end < text.size() && LineEndAt(text, end) == 0 && end - begin < kMaxLineChars) ++end;
    if (end < text.size()) {
        const size_t lineEnd = LineEndAt(text, end);
        pos = end + (lineEnd != 0 ? lineEnd : 1);
    } else {
        pos = end;
    }
    return text.substr(begin, end - begin);
}

// One record line: kHexLoaded when stored or skipped, else the error.
int LoadRecord(std::string_view line, std::span<uint8_t, kHexImageBytes> image, HexCoverage& loaded,
               HexLoad& load, uint32_t& highestEnd) {
    if (line.size() < kMinRecordChars || line[0] != ':') return kHexFormatError;
    const int32_t count = HexField(line, 1, 2);
    const int32_t address = HexField(line, 3, 4);
    const int32_t type = HexField(line, 7, 2);
    if (count < 0 || address < 0 || type < 0) return kHexFormatError;
    if (type != 0 || static_cast<size_t>(address + count) > kHexImageBytes) return kHexLoaded;
    uint32_t sum = static_cast<uint32_t>(count + (address >> 8) + (address & 0xFF));
    for (int32_t i = 0; i < count; ++i) {
        const size_t at = kDataColumn + 2 * static_cast<size_t>(i);
        if (at + 2 > line.size()) return kHexChecksumError;
        const int32_t byte = HexField(line, at, 2);
        if (byte < 0) return kHexFormatError;
        image[static_cast<size_t>(address + i)] = static_cast<uint8_t>(byte);
        loaded.set(static_cast<size_t>(address + i));
        sum += static_cast<uint32_t>(byte);
    }
    const size_t at = kDataColumn + 2 * static_cast<size_t>(count);
    if (at + 2 > line.size()) return kHexChecksumError;
    const int32_t checksum = HexField(line, at, 2);
    if (checksum < 0) return kHexFormatError;
    if (static_cast<uint32_t>(checksum) != ((0x100 - (sum & 0xFF)) & 0xFF)) {
        return kHexChecksumError;
    }
    load.start = std::min(load.start, static_cast<uint32_t>(address));
    highestEnd = std::max(highestEnd, static_cast<uint32_t>(address + count));
    return kHexLoaded;
}

}  // namespace

std::string FormatIntelHex(std::span<const uint8_t> bytes) {
    const size_t length = std::min(bytes.size(), kMaxAddressedBytes);
    std::string text;
    text.reserve(length / kHexRecordBytes * 76 + 80);
    char field[16];
    for (size_t address = 0; address < length; address += kHexRecordBytes) {
        const size_t count = std::min(kHexRecordBytes, length - address);
        std::snprintf(field, sizeof field, ":%2.2X%4.4X00", static_cast<unsigned>(count),
                      static_cast<unsigned>(address));
        text += field;
        unsigned sum = static_cast<unsigned>(count + (address >> 8) + (address & 0xFF));
        for (size_t i = 0; i < count; ++i) {
            std::snprintf(field, sizeof field, "%2.2X", unsigned{bytes[address + i]});
            text += field;
            sum += bytes[address + i];
        }
        std::snprintf(field, sizeof field, "%2.2X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += field;
    }
    text += kHexEndRecord;
    text += '\n';
    return text;
}

HexLoad ParseIntelHex(std::string_view text, std::span<uint8_t, kHexImageBytes> image,
                      HexCoverage& loaded) {
    loaded.reset();
    HexLoad load;
    uint32_t highestEnd = 0;
    for (size_t pos = 0; pos < text.size();) {
        load.result = LoadRecord(NextLine(text, pos), image, loaded, load, highestEnd);
        if (load.result != kHexLoaded) return load;
    }
    load.length = highestEnd > load.start ? highestEnd - load.start : 0;
    return load;
}
