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

class CoeTestDevice : public ecsim::Device {
  public:
    // `readMailboxSize` is the slave's SM1 length (128 on the bridges).
    explicit CoeTestDevice(uint16_t readMailboxSize = 128) : coe_(od_, readMailboxSize) {}

    ecsim::ObjectDictionary& od() { return od_; }

    // Gives it the bridges' process data: per channel a 16-bit and a 32-bit
    // object each way (24 bytes out, 24 bytes in); `bits` other than 0 maps one
    // object of that many bits each way instead.
    void addBridgeMapping(uint8_t bits = 0) {
        std::vector<ecsim::PdoDesc> out, in;
        if (bits != 0) {
            out.push_back({0x1600, {{0x7000, 1, bits}}});
            in.push_back({0x1A00, {{0x6000, 1, bits}}});
        }
        for (uint16_t ch = 0; ch < 4 && bits == 0; ++ch) {
            const auto base = static_cast<uint16_t>(ch * 0x800);
            out.push_back({static_cast<uint16_t>(0x1600 + ch),
                           {{static_cast<uint16_t>(0x6040 + base), 0, 16},
                            {static_cast<uint16_t>(0x607A + base), 0, 32}}});
            in.push_back({static_cast<uint16_t>(0x1A00 + ch),
                          {{static_cast<uint16_t>(0x6041 + base), 0, 16},
                           {static_cast<uint16_t>(0x6064 + base), 0, 32}}});
        }
        ecsim::addPdoObjects(od_, out, in);
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

// Puts a CoeTestDevice with the bridges' mapping on each of `positions`.
inline std::vector<CoeTestDevice*> fitCoeDevices(ecsim::Segment& segment,
                                                 std::initializer_list<size_t> positions,
                                                 uint8_t bits = 0) {
    std::vector<CoeTestDevice*> fitted;
    for (size_t p : positions) {
        auto device = std::make_unique<CoeTestDevice>();
        device->addBridgeMapping(bits);
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
