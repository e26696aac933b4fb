#include <stdexcept>
#include <string_view>

#include "bridge_entries.hpp"
#include "ecmaster/codec.hpp"
#include "ecsim/bridge.hpp"
#include "ecsim/slave_kinds.hpp"

namespace ecsim {

namespace {

using bridge_entries::addChecked;
using bridge_entries::addComputed;

constexpr uint32_t kDeviceType = 0x00020192;  // servo drive, CiA402 profile
constexpr std::string_view kHardwareVersion = "H1.00";
constexpr std::string_view kFirmwareVersion = "V1.07";

constexpr uint16_t kIdentity = 0x1018;
constexpr uint16_t kSoftwareVersion = 0x100A;

constexpr uint16_t kChannelSetup = 0xF511;  // + channel: :01 MotorKind, :02 UartSpeed
constexpr uint16_t kMotorLine = 0xF581;     // + channel
constexpr uint16_t kMotorReply = 0xF591;    // + channel
constexpr uint16_t kBoardParams = 0xF540;
constexpr uint16_t kBoardCommand = 0xF550;
constexpr uint16_t kLoaderCommand = 0xF570;
constexpr uint16_t kLoaderReply = 0xF571;
constexpr uint16_t kVendorFirst = 0xF500;
constexpr uint16_t kVendorLast = 0xF5FF;

constexpr uint8_t kSubMotorKind = 1;
constexpr uint8_t kSubUartSpeed = 2;
constexpr uint8_t kSubBoardType = 0x0B;
constexpr uint8_t kSubBoardNumber = 0x0C;
constexpr uint8_t kSubUnlock = 2;
constexpr uint8_t kSubWindow = 3;
constexpr uint8_t kSubAcceleration = 4;
constexpr uint8_t kSubStore = 6;

// Bridge parameters 0xF540:01..07 (:04 is not used) and their factory values.
struct BoardParam {
    uint8_t sub;
    int32_t value;
};
constexpr BoardParam kBoardParamDefaults[] = {{1, 1}, {2, 0}, {3, 0}, {5, 1}, {6, 1}, {7, 0}};

constexpr uint32_t kAccelerationWordBase = 0x05B2D7E1;
constexpr uint32_t kDefaultAccelerationWord = kAccelerationWordBase + 10000 / 500;

Entry textEntry(Access access, size_t maxLength) {
    Entry e;
    e.type = DataType::VisibleString;
    e.access = access;
    e.maxLength = maxLength;
    return e;
}

std::vector<uint8_t> textBytes(std::string_view text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string_view asText(std::span<const uint8_t> data) {
    return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
}

// Replies must fit the read mailbox the SII gives the master.
uint16_t readMailboxSize(const SlaveSpec& spec) {
    const std::optional<SmArea> mailbox = slaveConfigFor(spec).readMailbox;
    if (!mailbox) throw std::invalid_argument("bridge model for a slave without mailbox");
    return mailbox->length;
}

uint16_t channelIndex(uint16_t base, size_t channel) {
    return static_cast<uint16_t>(base + channel);
}

}  // namespace

MotorKind bridgeMotorKind(SlaveKind bridge, size_t channel) {
    switch (bridge) {
        case SlaveKind::ZR02:
            return MotorKind::B;
        case SlaveKind::ZR12:
            return channel < 2 ? MotorKind::A : MotorKind::B;
        default:
            return MotorKind::A;
    }
}

std::unique_ptr<Device> makeBridgeDevice(const SlaveSpec& spec) {
    return std::make_unique<BridgeDevice>(spec);
}

BridgeDevice::BridgeDevice(const SlaveSpec& spec, Clock::time_point now)
    : kind_(spec.kind),
      coe_(od_, readMailboxSize(spec)),
      loader_([this](std::string_view version) { od_.setString(kSoftwareVersion, 0, version); }),
      now_(now) {
    addIdentityObjects(spec);
    addProcessDataObjects();
    for (size_t c = 0; c < kChannels; ++c) {
        if (spec.motors[c]) channels_[c].motor.emplace(bridgeMotorKind(kind_, c));
        addChannelObjects(c);
    }
    addVendorObjects(spec);
    addLoaderObjects();
    recordVendorAccesses();
}

void BridgeDevice::addIdentityObjects(const SlaveSpec& spec) {
    const Identity id = identityOf(spec.kind);
    od_.addU32(0x1000, 0, kDeviceType, Access::ReadOnly);
    od_.addString(0x1008, 0, deviceName(spec.kind));
    od_.addString(0x1009, 0, kHardwareVersion);
    od_.addString(kSoftwareVersion, 0, kFirmwareVersion);
    od_.addU8(kIdentity, 0, 4, Access::ReadOnly);
    od_.addU32(kIdentity, 1, id.vendor, Access::ReadOnly);
    od_.addU32(kIdentity, 2, id.product, Access::ReadOnly);
    od_.addU32(kIdentity, 3, id.revision, Access::ReadOnly);
    // The serial number is the board number that board initialisation writes.
    addComputed(od_, kIdentity, 4, DataType::Unsigned32,
                [this] { return od_.getInt(kBoardParams, kSubBoardNumber); });
}

void BridgeDevice::addProcessDataObjects() {
    std::vector<PdoDesc> outputs;
    std::vector<PdoDesc> inputs;
    for (size_t c = 0; c < kChannels; ++c) {
        const auto axis = static_cast<uint16_t>(c * kAxisIndexStep);
        const auto pdo = static_cast<uint16_t>(c);
        outputs.push_back({static_cast<uint16_t>(0x1600 + pdo),
                           {{static_cast<uint16_t>(0x6040 + axis), 0, 16},
                            {static_cast<uint16_t>(0x607A + axis), 0, 32}}});
        inputs.push_back({static_cast<uint16_t>(0x1A00 + pdo),
                          {{static_cast<uint16_t>(0x6041 + axis), 0, 16},
                           {static_cast<uint16_t>(0x6064 + axis), 0, 32}}});
    }
    addPdoObjects(od_, outputs, inputs);
}

void BridgeDevice::addChannelObjects(size_t c) {
    Channel& ch = channels_[c];

    Entry line = textEntry(Access::WriteOnly, kMaxLine);
    line.onDownload = [this, c](std::span<const uint8_t> data) { return sendLine(c, data); };
    od_.add(channelIndex(kMotorLine, c), 0, std::move(line));

    Entry reply = textEntry(Access::ReadOnly, 0);
    reply.onUpload = [&ch](std::vector<uint8_t>& out) {
        out = textBytes(ch.replies.take());
        return abort_code::None;
    };
    od_.add(channelIndex(kMotorReply, c), 0, std::move(reply));

    const uint16_t setup = channelIndex(kChannelSetup, c);
    od_.addU8(setup, 0, 2, Access::ReadOnly);
    // The configured kind is a setting of the board; the motor's own kind is
    // physical and stays what is fitted.
    addChecked(od_, setup, kSubMotorKind, DataType::Unsigned8,
               static_cast<int64_t>(bridgeMotorKind(kind_, c)), [this](int64_t kind) {
                   if (!unlocked_) return abort_code::DeviceState;
                   return kind == 1 || kind == 2 ? abort_code::None : abort_code::ValueRange;
               });
    addChecked(od_, setup, kSubUartSpeed, DataType::Unsigned32, 0, [this](int64_t code) {
        if (!configWindowOpen()) return abort_code::DeviceState;
        return channelSpeed(static_cast<uint32_t>(code)) != SerialSpeed::Unusable
                   ? abort_code::None
                   : abort_code::ValueRange;
    });

    TqlMotor* motor = ch.motor ? &*ch.motor : nullptr;
    ch.axis =
        std::make_unique<Cia402Axis>(od_, static_cast<uint16_t>(c * kAxisIndexStep), motor, now_);
}

void BridgeDevice::addVendorObjects(const SlaveSpec& spec) {
    auto whileWindowOpen = [this](int64_t) {
        return configWindowOpen() ? abort_code::None : abort_code::DeviceState;
    };
    od_.addU8(kBoardParams, 0, kSubBoardNumber, Access::ReadOnly);
    for (const BoardParam& p : kBoardParamDefaults) {
        addChecked(od_, kBoardParams, p.sub, DataType::Integer32, p.value, whileWindowOpen);
    }
    addChecked(od_, kBoardParams, kSubBoardType, DataType::Integer32,
               static_cast<int64_t>(spec.kind) + 1, [this](int64_t type) {
                   if (!unlocked_) return abort_code::DeviceState;
                   return type >= 1 && type <= 3 ? abort_code::None : abort_code::ValueRange;
               });
    addChecked(od_, kBoardParams, kSubBoardNumber, DataType::Integer32, spec.serial,
               [this](int64_t) { return unlocked_ ? abort_code::None : abort_code::DeviceState; });

    od_.addU8(kBoardCommand, 0, kSubStore, Access::ReadOnly);
    // Any other word locks again, as a wrong password would.
    addComputed(
        od_, kBoardCommand, kSubUnlock, DataType::Unsigned32, [this] { return unlocked_ ? 1 : 0; },
        [this](int64_t word) {
            unlocked_ = word == kUnlockWord;
            if (!unlocked_) loader_.reset();
            return abort_code::None;
        });
    od_.addU32(kBoardCommand, kSubWindow, 0);
    od_.addU32(kBoardCommand, kSubAcceleration, kDefaultAccelerationWord);
    od_.addU32(kBoardCommand, kSubStore, 0, Access::WriteOnly);
}

void BridgeDevice::addLoaderObjects() {
    Entry command = textEntry(Access::WriteOnly, FirmwareLoader::kMaxWrite);
    command.onDownload = [this](std::span<const uint8_t> data) {
        if (!unlocked_) return abort_code::DeviceState;
        loader_.write(asText(data), now_);
        return abort_code::None;
    };
    od_.add(kLoaderCommand, 0, std::move(command));

    Entry reply = textEntry(Access::ReadOnly, 0);
    reply.onUpload = [this](std::vector<uint8_t>& out) {
        out = textBytes(loader_.read());
        return abort_code::None;
    };
    od_.add(kLoaderReply, 0, std::move(reply));
}

uint32_t BridgeDevice::sendLine(size_t c, std::span<const uint8_t> line) {
    Channel& ch = channels_[c];
    // A line sent at a speed the motor is not listening at is lost on the wire.
    if (!ch.motor || ch.motor->serialSpeed() != channelSpeed(channelSpeedCode(c))) {
        return abort_code::None;
    }
    for (std::string& reply : ch.motor->runLine(asText(line))) ch.replies.push(std::move(reply));
    return abort_code::None;
}

// Every vendor entry notes each access before it does what it did before; an
// entry without hooks stores and reads its value as the dictionary would.
void BridgeDevice::recordVendorAccesses() {
    for (unsigned index = kVendorFirst; index <= kVendorLast; ++index) {
        if (!od_.hasObject(static_cast<uint16_t>(index))) continue;
        for (unsigned sub = 0; sub <= 0xFF; ++sub) {
            Entry* e = od_.find(static_cast<uint16_t>(index), static_cast<uint8_t>(sub));
            if (e == nullptr) continue;
            const VendorAccess at{
                false, static_cast<uint16_t>(index), static_cast<uint8_t>(sub), {}};
            auto download = std::move(e->onDownload);
            auto upload = std::move(e->onUpload);
            e->onDownload = [this, e, at, download](std::span<const uint8_t> data) {
                VendorAccess access = at;
                access.download = true;
                access.data.assign(data.begin(), data.end());
                record(std::move(access));
                if (download) return download(data);
                e->value.assign(data.begin(), data.end());
                return abort_code::None;
            };
            e->onUpload = [this, e, at, upload](std::vector<uint8_t>& out) {
                record(at);
                if (upload) return upload(out);
                out = e->value;
                return abort_code::None;
            };
        }
    }
}

void BridgeDevice::record(VendorAccess access) {
    if (accessRecord_.size() == kAccessRecordLimit) accessRecord_.pop_front();
    accessRecord_.push_back(std::move(access));
}

void BridgeDevice::onMailbox(std::span<const uint8_t> message, MailboxOutbox& out) {
    // A processor stuck in its loader takes the message and never answers.
    if (loader_.faults().silent) return;
    coe_.handle(message, out);
}

void BridgeDevice::onOutputs(std::span<const uint8_t> outputs) {
    if (outputs.size() < kProcessDataBytes) return;
    for (size_t c = 0; c < kChannels; ++c) {
        const uint8_t* p = outputs.data() + c * kChannelBytes;
        channels_[c].axis->onCycle(ecat::get16(p), static_cast<int32_t>(ecat::get32(p + 2)));
    }
}

void BridgeDevice::fillInputs(std::span<uint8_t> inputs) {
    if (inputs.size() < kProcessDataBytes) return;
    for (size_t c = 0; c < kChannels; ++c) {
        uint8_t* p = inputs.data() + c * kChannelBytes;
        const Cia402Axis& axis = *channels_[c].axis;
        ecat::put16(p, axis.statusword());
        ecat::put32(p + 2, static_cast<uint32_t>(axis.positionActual()));
    }
}

void BridgeDevice::onStateChange(uint16_t from, uint16_t to) {
    // Without process data the drives take the controlword as 0.
    if (from == ecat::al::Op && to != ecat::al::Op) {
        for (Channel& ch : channels_) ch.axis->disable();
    }
    if (to == ecat::al::Init) {
        unlocked_ = false;
        loader_.reset();
    }
}

void BridgeDevice::tick(Clock::time_point now) {
    now_ = now;
    for (Channel& ch : channels_) ch.axis->tick(now);
    loader_.tick(now);
}

const TqlMotor* BridgeDevice::motor(size_t channel) const {
    const Channel& ch = channels_.at(channel);
    return ch.motor ? &*ch.motor : nullptr;
}

uint32_t BridgeDevice::channelSpeedCode(size_t channel) const {
    return static_cast<uint32_t>(od_.getInt(channelIndex(kChannelSetup, channel), kSubUartSpeed));
}

bool BridgeDevice::configWindowOpen() const {
    return od_.getInt(kBoardCommand, kSubWindow) == kConfigWindowKey;
}

std::string BridgeDevice::firmwareVersion() const {
    return od_.getString(kSoftwareVersion, 0);
}

}  // namespace ecsim
