#include "ecsim/srecord.hpp"

namespace ecsim {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Address bytes by record type; 0 marks the reserved type 4.
constexpr size_t kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

}  // namespace

std::optional<SRecord> parseSRecord(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    if (line.size() < 4 || line[0] != 'S' || line[1] < '0' || line[1] > '9') return std::nullopt;
    SRecord record;
    record.type = line[1] - '0';
    const size_t addressBytes = kAddressBytes[record.type];
    if (addressBytes == 0) return std::nullopt;

    const std::string_view hex = line.substr(2);
    if (hex.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;  // count, address, data, checksum
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexValue(hex[i]);
        const int lo = hexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    if (bytes[0] + size_t{1} != bytes.size() || bytes[0] < addressBytes + 1) return std::nullopt;

    unsigned sum = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    if (static_cast<uint8_t>(~sum) != bytes.back()) return std::nullopt;

    for (size_t i = 0; i < addressBytes; ++i) record.address = (record.address << 8) | bytes[1 + i];
    record.data.assign(bytes.begin() + 1 + static_cast<std::ptrdiff_t>(addressBytes),
                       bytes.end() - 1);
    return record;
}

std::string formatSRecord(int type, uint32_t address, std::span<const uint8_t> data) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    if (type < 0 || type > 9 || kAddressBytes[type] == 0) return {};
    const size_t addressBytes = kAddressBytes[type];
    if (addressBytes + data.size() + 1 > 0xFF) return {};
    std::vector<uint8_t> bytes;  // count, address, data
    bytes.push_back(static_cast<uint8_t>(addressBytes + data.size() + 1));
    for (size_t i = addressBytes; i-- > 0;)
        bytes.push_back(static_cast<uint8_t>(address >> (8 * i)));
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    bytes.push_back(static_cast<uint8_t>(~sum));

    std::string line = "S" + std::to_string(type);
    for (uint8_t b : bytes) {
        line.push_back(kDigits[b >> 4]);
        line.push_back(kDigits[b & 0xF]);
    }
    return line + "\r\n";
}

}  // namespace ecsim
