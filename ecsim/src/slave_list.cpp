#include <cctype>
#include <string>

#include "ecsim/segment.hpp"

namespace ecsim {

namespace {

constexpr size_t kMaxSlaves = 199;  // what a master's slave table holds
// EEPROM sizes a slave list may give: whole 128-byte steps (the SII size word
// counts kibibits), enough for every kind's content, within 16-bit word addresses.
constexpr size_t kEepromStep = 128;
constexpr size_t kMinEepromBytes = 512;
constexpr size_t kMaxEepromBytes = 65536;

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

constexpr SlaveKind kKinds[] = {SlaveKind::ZR01, SlaveKind::ZR02, SlaveKind::ZR12, SlaveKind::IO,
                                SlaveKind::CPL};

bool isBridgeKind(SlaveKind k) {
    return k == SlaveKind::ZR01 || k == SlaveKind::ZR02 || k == SlaveKind::ZR12;
}

// "1-3", "124", "13-4", "" (no motors).
bool parseChannels(std::string_view text, std::array<bool, 4>& motors, std::string* error) {
    motors = {false, false, false, false};
    auto channel = [&](char c, int& out) {
        if (c < '1' || c > '4') {
            *error = std::string("channel '") + c + "' is not 1 to 4";
            return false;
        }
        out = c - '1';
        return true;
    };
    for (size_t i = 0; i < text.size();) {
        int first = 0;
        if (!channel(text[i], first)) return false;
        int last = first;
        if (i + 1 < text.size() && text[i + 1] == '-') {
            if (i + 2 >= text.size()) {
                *error = "channel range '" + std::string(text.substr(i)) + "' has no end";
                return false;
            }
            if (!channel(text[i + 2], last)) return false;
            if (last < first) {
                *error = "channel range '" + std::string(text.substr(i, 3)) + "' runs backwards";
                return false;
            }
            i += 3;
        } else {
            i += 1;
        }
        for (int c = first; c <= last; ++c) {
            if (motors[c]) {
                *error = "channel " + std::to_string(c + 1) + " named twice";
                return false;
            }
            motors[c] = true;
        }
    }
    return true;
}

// "1024": a decimal byte count within the sizes above.
bool parseEepromSize(std::string_view text, size_t& bytes, std::string* error) {
    bytes = 0;
    bool valid = !text.empty() && text.size() <= 6;  // no overflow below
    for (char c : text) valid = valid && c >= '0' && c <= '9';
    if (valid) {
        for (char c : text) bytes = bytes * 10 + static_cast<size_t>(c - '0');
    }
    if (!valid || bytes < kMinEepromBytes || bytes > kMaxEepromBytes || bytes % kEepromStep != 0) {
        *error = "EEPROM size '" + std::string(text) + "' is not a multiple of 128 from " +
                 std::to_string(kMinEepromBytes) + " to " + std::to_string(kMaxEepromBytes);
        return false;
    }
    return true;
}

}  // namespace

std::string_view kindName(SlaveKind kind) {
    switch (kind) {
        case SlaveKind::ZR01:
            return "ZR01";
        case SlaveKind::ZR02:
            return "ZR02";
        case SlaveKind::ZR12:
            return "ZR12";
        case SlaveKind::IO:
            return "IO";
        case SlaveKind::CPL:
            return "CPL";
    }
    return "?";
}

std::optional<std::vector<SlaveSpec>> parseSlaveList(std::string_view text, std::string* error) {
    std::string scratch;
    std::string& why = error ? *error : scratch;
    std::vector<SlaveSpec> specs;
    if (trim(text).empty()) {
        why = "no slaves given";
        return std::nullopt;
    }
    size_t position = 0;
    for (size_t start = 0; start <= text.size();) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view item = trim(text.substr(start, comma - start));
        start = comma + 1;
        ++position;
        const std::string where = "slave " + std::to_string(position) + ": ";
        if (item.empty()) {
            why = where + "empty entry";
            return std::nullopt;
        }
        SlaveSpec spec;
        const size_t at = item.find('@');
        if (at != std::string_view::npos) {
            std::string sizeError;
            if (!parseEepromSize(trim(item.substr(at + 1)), spec.eepromBytes, &sizeError)) {
                why = where + sizeError;
                return std::nullopt;
            }
        }
        const std::string_view slave = trim(item.substr(0, at));
        const size_t colon = slave.find(':');
        const std::string_view name = trim(slave.substr(0, colon));
        bool known = false;
        for (SlaveKind k : kKinds) {
            if (equalsIgnoreCase(name, kindName(k))) {
                spec.kind = k;
                known = true;
            }
        }
        if (!known) {
            why = where + "unknown kind '" + std::string(name) + "' (ZR01, ZR02, ZR12, IO, CPL)";
            return std::nullopt;
        }
        if (colon != std::string_view::npos) {
            if (!isBridgeKind(spec.kind)) {
                why = where + std::string(kindName(spec.kind)) + " has no motor channels";
                return std::nullopt;
            }
            std::string channelError;
            if (!parseChannels(trim(slave.substr(colon + 1)), spec.motors, &channelError)) {
                why = where + channelError;
                return std::nullopt;
            }
        }
        specs.push_back(spec);
        if (specs.size() > kMaxSlaves) {
            why = "more than " + std::to_string(kMaxSlaves) + " slaves";
            return std::nullopt;
        }
        if (comma == text.size()) break;
    }
    return specs;
}

}  // namespace ecsim
