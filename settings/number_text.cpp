#include "settings/number_text.hpp"

#include <limits>

namespace {

size_t SkipBlanks(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    return i;
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool ReadLeadingInteger(std::string_view text, int32_t* value) {
    size_t i = SkipBlanks(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t firstDigit = i;
    int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (text[i] - '0');
        if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) return false;
    }
    if (i == firstDigit) return false;
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int32_t>::max()) return false;
    *value = static_cast<int32_t>(signedValue);
    return true;
}

bool ReadLeadingHex(std::string_view text, uint32_t* value) {
    size_t i = SkipBlanks(text);
    // "0x" counts as a prefix only when a digit follows; "0x" alone reads as 0.
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] | 0x20) == 'x' &&
        HexDigitValue(text[i + 2]) >= 0) {
        i += 2;
    }
    const size_t firstDigit = i;
    uint64_t v = 0;
    for (; i < text.size() && HexDigitValue(text[i]) >= 0; ++i) {
        v = (v << 4) | static_cast<uint64_t>(HexDigitValue(text[i]));
        if (v > std::numeric_limits<uint32_t>::max()) return false;
    }
    if (i == firstDigit) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}
