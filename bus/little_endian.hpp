// Multi-byte values on the bus are little-endian, as the host is.
#pragma once

#include <cstdint>
#include <cstring>

// Stores `value` at `p` as 4 bytes, least significant first.
inline void PutLittleEndian32(uint8_t* p, int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(bits >> (8 * k));
}

// Reads a T stored least significant byte first at `data`.
template <typename T>
T ReadLittleEndian(const uint8_t* data) {
    T value{};
    std::memcpy(&value, data, sizeof value);  // the host is little-endian, as the bus
    return value;
}
