// A slave application with its own object dictionary behind the CoE server,
// for tests that put it on a bridge position (Segment::replaceDevice): it can
// swallow requests, send an emergency ahead of its reply, and echoes its
// outputs into its inputs (each byte + 1) so both directions can be checked.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <initializer_list>
#include <memory>
#include <vector>

#include "ecsim/object_dictionary.hpp"
#include "ecsim/segment.hpp"
#include "ecsim/slave.hpp"

namespace testsupport {

inline constexpr uint16_t kBridgeBits = 192;  // 24 bytes each way, as on the bridges

class CoeTestDevice : public ecsim::Device {
  public:
    // `readMailboxSize` is the slave's SM1 length (128 on the bridges).
    explicit CoeTestDevice(uint16_t readMailboxSize = 128) : coe_(od_, readMailboxSize) {}

    ecsim::ObjectDictionary& od() { return od_; }

    // Gives it process data of `bits` each way in one PDO per direction, as
    // entries of 32 bits and a shorter last one (192 bits = the bridges' 24 bytes).
    void addMapping(uint16_t bits) {
        ecsim::PdoDesc out{0x1600, {}};
        ecsim::PdoDesc in{0x1A00, {}};
        for (uint16_t done = 0, sub = 1; done < bits; ++sub) {
            const auto n = static_cast<uint8_t>(std::min<uint16_t>(32, bits - done));
            out.entries.push_back({0x7000, static_cast<uint8_t>(sub), n});
            in.entries.push_back({0x6000, static_cast<uint8_t>(sub), n});
            done = static_cast<uint16_t>(done + n);
        }
        ecsim::addPdoObjects(od_, std::span(&out, 1), std::span(&in, 1));
    }

    void swallowRequests(bool on) { swallow_ = on; }
    void emergencyBeforeNextReply(uint16_t code) { emergency_ = code; }

    void onMailbox(std::span<const uint8_t> message, ecsim::MailboxOutbox& out) override {
        if (swallow_) return;
        if (const uint16_t code = emergency_.exchange(0)) {
            const uint8_t data[5] = {1, 2, 3, 4, 5};
            coe_.emergency(code, 0x01, data, out);
        }
        coe_.handle(message, out);
    }
    void onOutputs(std::span<const uint8_t> outputs) override {
        lastOutputs_.assign(outputs.begin(), outputs.end());
    }
    void fillInputs(std::span<uint8_t> inputs) override {
        for (size_t i = 0; i < inputs.size(); ++i) {
            inputs[i] = static_cast<uint8_t>(i < lastOutputs_.size() ? lastOutputs_[i] + 1 : 0);
        }
    }
    // Read under the segment's lock.
    const std::vector<uint8_t>& lastOutputs() const { return lastOutputs_; }

  private:
    ecsim::ObjectDictionary od_;
    ecsim::CoeServer coe_;
    std::atomic<bool> swallow_{false};
    std::atomic<uint16_t> emergency_{0};
    std::vector<uint8_t> lastOutputs_;
};

// Puts a CoeTestDevice with `bits` of process data each way on each of `positions`.
inline std::vector<CoeTestDevice*> fitCoeDevices(ecsim::Segment& segment,
                                                 std::initializer_list<size_t> positions,
                                                 uint16_t bits = kBridgeBits) {
    std::vector<CoeTestDevice*> fitted;
    for (size_t p : positions) {
        auto device = std::make_unique<CoeTestDevice>();
        device->addMapping(bits);
        fitted.push_back(device.get());
        segment.replaceDevice(p, std::move(device));
    }
    return fitted;
}

// A copy of `length` bytes of a simulated slave's registers or RAM.
inline std::vector<uint8_t> slaveMemory(ecsim::Segment& segment, size_t position, uint32_t address,
                                        size_t length) {
    auto guard = segment.lock();
    const auto memory = segment.slave(position).memory();
    return {memory.begin() + address, memory.begin() + address + length};
}

}  // namespace testsupport
