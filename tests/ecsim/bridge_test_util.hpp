// A bridge device driven directly through its dictionary and process data, on a
// clock of the test's own, for unit tests of the bridge model.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ecsim/bridge.hpp"

namespace bridgetest {

using namespace std::chrono_literals;

// Every numeric value goes as 4 bytes, as the tool writes them.
inline std::array<uint8_t, 4> fourBytes(int64_t value) {
    const auto v = static_cast<uint32_t>(value);
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

// An uploaded number, sign-extended from its width.
inline int64_t signedValue(std::span<const uint8_t> data) {
    uint64_t v = 0;
    for (size_t i = 0; i < data.size() && i < 8; ++i) v |= uint64_t{data[i]} << (8 * i);
    const size_t bits = 8 * data.size();
    if (bits > 0 && bits < 64 && ((v >> (bits - 1)) & 1) != 0) v |= ~uint64_t{0} << bits;
    return static_cast<int64_t>(v);
}

inline ecsim::SlaveSpec bridgeSpec(ecsim::SlaveKind kind,
                                   std::array<bool, 4> motors = {true, true, true, true}) {
    ecsim::SlaveSpec spec;
    spec.kind = kind;
    spec.motors = motors;
    spec.serial = 4711;
    return spec;
}

class Bridge {
  public:
    explicit Bridge(ecsim::SlaveKind kind = ecsim::SlaveKind::ZR12,
                    std::array<bool, 4> motors = {true, true, true, true})
        : device(bridgeSpec(kind, motors), now) {}

    uint32_t write(uint16_t index, uint8_t sub, int64_t value) {
        return device.dictionary().download(index, sub, fourBytes(value));
    }
    uint32_t writeText(uint16_t index, uint8_t sub, std::string_view text) {
        return device.dictionary().download(
            index, sub,
            std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    std::string readText(uint16_t index, uint8_t sub) {
        std::vector<uint8_t> data;
        EXPECT_EQ(device.dictionary().upload(index, sub, data), 0u) << std::hex << index;
        return std::string(data.begin(), data.end());
    }
    int64_t readInt(uint16_t index, uint8_t sub) {
        std::vector<uint8_t> data;
        EXPECT_EQ(device.dictionary().upload(index, sub, data), 0u) << std::hex << index;
        return signedValue(data);
    }

    // Sends a TQL line to channel 1..4 and returns every reply queued for it.
    std::vector<std::string> tql(int channel, std::string_view line) {
        EXPECT_EQ(writeText(static_cast<uint16_t>(0xF580 + channel), 0, line), 0u);
        return drain(channel);
    }
    std::vector<std::string> drain(int channel) {
        std::vector<std::string> replies;
        for (int i = 0; i < 200; ++i) {
            std::string r = readText(static_cast<uint16_t>(0xF590 + channel), 0);
            if (r.front() == 'N') break;
            replies.push_back(std::move(r));
        }
        return replies;
    }

    void advance(std::chrono::milliseconds dt) {
        now += dt;
        device.tick(now);
    }

    // One process-data cycle with the same controlword and target for every
    // channel given; returns the inputs.
    struct Inputs {
        std::array<uint16_t, 4> statusword{};
        std::array<int32_t, 4> position{};
    };
    Inputs cycle(std::array<uint16_t, 4> controlword, std::array<int32_t, 4> target = {}) {
        std::array<uint8_t, 24> out{};
        for (size_t c = 0; c < 4; ++c) {
            out[6 * c] = static_cast<uint8_t>(controlword[c]);
            out[6 * c + 1] = static_cast<uint8_t>(controlword[c] >> 8);
            for (size_t b = 0; b < 4; ++b) {
                out[6 * c + 2 + b] =
                    static_cast<uint8_t>(static_cast<uint32_t>(target[c]) >> (8 * b));
            }
        }
        device.onOutputs(out);
        advance(20ms);
        std::array<uint8_t, 24> in{};
        device.fillInputs(in);
        Inputs result;
        for (size_t c = 0; c < 4; ++c) {
            result.statusword[c] = static_cast<uint16_t>(in[6 * c] | (in[6 * c + 1] << 8));
            uint32_t p = 0;
            for (size_t b = 0; b < 4; ++b) p |= uint32_t{in[6 * c + 2 + b]} << (8 * b);
            result.position[c] = static_cast<int32_t>(p);
        }
        return result;
    }
    Inputs cycleAll(uint16_t controlword, int32_t target = 0) {
        return cycle({controlword, controlword, controlword, controlword},
                     {target, target, target, target});
    }

    ecsim::Clock::time_point now = ecsim::Clock::now();
    ecsim::BridgeDevice device;
};

}  // namespace bridgetest
