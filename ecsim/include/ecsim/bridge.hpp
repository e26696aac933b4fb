// The bridge device model (ZR01, ZR02, ZR12): identity, process data for four
// motor channels, the motor text channel with its simulated motors, vendor
// objects, CiA402 axes and the firmware loader.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ecsim/cia402_axis.hpp"
#include "ecsim/device.hpp"
#include "ecsim/firmware_loader.hpp"
#include "ecsim/object_dictionary.hpp"
#include "ecsim/reply_queue.hpp"
#include "ecsim/segment.hpp"
#include "ecsim/tql_motor.hpp"

namespace ecsim {

std::unique_ptr<Device> makeBridgeDevice(const SlaveSpec& spec);

// Physical motor kind on each channel of a bridge model.
MotorKind bridgeMotorKind(SlaveKind bridge, size_t channel);

// One SDO access that reached a vendor object (0xF500..0xF5FF) of a bridge: the
// motor lines and replies, channel speeds, bridge parameters, configuration
// window and loader.
struct VendorAccess {
    bool download = false;  // else an upload
    uint16_t index = 0;
    uint8_t subindex = 0;
    std::vector<uint8_t> data;  // a download's bytes; numbers at the entry's width
    bool operator==(const VendorAccess&) const = default;
};

class BridgeDevice : public Device {
  public:
    static constexpr size_t kChannels = 4;
    static constexpr size_t kChannelBytes = 6;  // controlword/statusword + position
    static constexpr size_t kProcessDataBytes = kChannels * kChannelBytes;
    static constexpr uint16_t kAxisIndexStep = 0x800;
    static constexpr size_t kMaxLine = 64;

    static constexpr uint32_t kConfigWindowKey = 0x6D3F1;
    static constexpr uint32_t kUnlockWord = 0x7E2B;
    // The access record keeps this many, the newest.
    static constexpr size_t kAccessRecordLimit = 1024;

    explicit BridgeDevice(const SlaveSpec& spec, Clock::time_point now = Clock::now());
    BridgeDevice(const BridgeDevice&) = delete;
    BridgeDevice& operator=(const BridgeDevice&) = delete;

    void onMailbox(std::span<const uint8_t> message, MailboxOutbox& out) override;
    void onOutputs(std::span<const uint8_t> outputs) override;
    void fillInputs(std::span<uint8_t> inputs) override;
    void onStateChange(uint16_t from, uint16_t to) override;
    void tick(Clock::time_point now) override;

    // ---- inspection (channels 0..3) ----
    ObjectDictionary& dictionary() { return od_; }
    const TqlMotor* motor(size_t channel) const;  // null when none is fitted
    uint32_t channelSpeedCode(size_t channel) const;
    size_t pendingReplies(size_t channel) const { return channels_.at(channel).replies.size(); }
    const Cia402Axis& axis(size_t channel) const { return *channels_.at(channel).axis; }
    const FirmwareLoader& loader() const { return loader_; }
    void setLoaderFaults(const FirmwareLoader::Faults& faults) { loader_.setFaults(faults); }
    void setLoaderEraseTime(std::chrono::milliseconds time) { loader_.setEraseTime(time); }
    bool unlocked() const { return unlocked_; }
    bool configWindowOpen() const;
    std::string firmwareVersion() const;
    // The vendor-object accesses received so far, oldest first (the last
    // kAccessRecordLimit of them); those the object refused are included.
    const std::deque<VendorAccess>& accessRecord() const { return accessRecord_; }
    void clearAccessRecord() { accessRecord_.clear(); }

  private:
    struct Channel {
        std::optional<TqlMotor> motor;
        ReplyQueue replies;
        std::unique_ptr<Cia402Axis> axis;
    };

    void addIdentityObjects(const SlaveSpec& spec);
    void addProcessDataObjects();
    void addChannelObjects(size_t c);
    void addVendorObjects(const SlaveSpec& spec);
    void addLoaderObjects();
    uint32_t sendLine(size_t c, std::span<const uint8_t> line);
    void recordVendorAccesses();
    void record(VendorAccess access);

    SlaveKind kind_;
    ObjectDictionary od_;
    CoeServer coe_;
    std::array<Channel, kChannels> channels_;
    FirmwareLoader loader_;
    bool unlocked_ = false;
    Clock::time_point now_;
    std::deque<VendorAccess> accessRecord_;
};

}  // namespace ecsim
