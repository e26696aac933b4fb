#include "bus/process_image.hpp"

#include <algorithm>
#include <cstring>

#include "bus/bus_stop.hpp"
#include "bus/globals.hpp"
#include "bus/little_endian.hpp"
#include "ethercat.h"

uint8_t g_ioMap[kIoMapSize];

namespace {

constexpr uint16_t kEnableOperation = 0x000F;
constexpr int kReceiveTimeoutUs = 2000;
constexpr int kCyclePauseMs = 20;

std::mutex imageLock;
// Sizes of the last mapping's areas; guarded by imageLock.
uint32_t outputAreaBytes = 0;
uint32_t inputAreaBytes = 0;

int TableBridgeCount() {
    return std::clamp(g_bridgeCount.load(), 0, kBridgeRows);
}

constexpr uint16_t kBridgeBlockBits = kBridgeBlockBytes * 8;

// A bridge takes part in the exchange only when it mapped exactly its 24 bytes
// that way, and its block lies inside the mapped area: anything else would write
// into a neighbour's data or past the image.
bool OutputBlockUsable(int bridge) {
    const int slave = g_bridgeSlave[bridge].load();
    return slave >= 1 && slave < EC_MAXSLAVE && ec_slave[slave].Obits == kBridgeBlockBits &&
           uint64_t{g_bridgeOutOffset[bridge].load()} + kBridgeBlockBytes <= outputAreaBytes;
}

bool InputBlockUsable(int bridge) {
    const int slave = g_bridgeSlave[bridge].load();
    return slave >= 1 && slave < EC_MAXSLAVE && ec_slave[slave].Ibits == kBridgeBlockBits &&
           uint64_t{g_bridgeInOffset[bridge].load()} + kBridgeBlockBytes <= inputAreaBytes;
}

// Moves each target toward its goal by at most three times the motor's speed.
void RunPositionRamp(int slots) {
    for (int i = 0; i < slots; ++i) {
        const int64_t step = int64_t{3} * g_moveSpeed[i].load();
        const int64_t goal = g_movePos[i].load();
        const int64_t target = g_targetPos[i].load();
        const int64_t next =
            goal >= target ? std::min(target + step, goal) : std::max(target - step, goal);
        g_targetPos[i] = static_cast<int32_t>(next);
    }
}

uint8_t ControlLowByte(int slot, uint16_t control, int32_t bridgeMode) {
    if (bridgeMode == kCoePage) return static_cast<uint8_t>(control & 0x1F);
    return static_cast<uint8_t>((control & 0x0F) | ((g_digOut[slot].load() & 0x0F) << 4));
}

}  // namespace

std::unique_lock<std::mutex> LockProcessImage() {
    return std::unique_lock(imageLock);
}

void SetMappedAreaSizes(uint32_t outputBytes, uint32_t inputBytes) {
    outputAreaBytes = outputBytes;
    inputAreaBytes = inputBytes;
}

uint32_t MappedOutputBytes() {
    return outputAreaBytes;
}

uint32_t MappedInputBytes() {
    return inputAreaBytes;
}

void ClearIoMap() {
    auto lock = LockProcessImage();
    std::memset(g_ioMap, 0, sizeof g_ioMap);
}

void ResetProcessImage() {
    auto lock = LockProcessImage();
    std::memset(g_ioMap, 0, sizeof g_ioMap);
    outputAreaBytes = 0;
    inputAreaBytes = 0;
}

void ResetMotorOutputs() {
    const int slots = TableBridgeCount() * kMotorsPerBridge;
    for (int i = 0; i < slots; ++i) {
        g_ctrlWord[i] = kEnableOperation;
        g_digOut[i] = 0;
    }
}

void PackBridgeOutputs(uint8_t* out) {
    const int count = TableBridgeCount();
    if (g_moveStop.load() == 0) RunPositionRamp(count * kMotorsPerBridge);
    if (out == nullptr) return;
    const int32_t bridgeMode = g_bridgeMode.load();
    for (int b = 0; b < count; ++b) {
        if (!OutputBlockUsable(b)) continue;
        uint8_t* block = out + g_bridgeOutOffset[b].load();
        for (int c = 0; c < kMotorsPerBridge; ++c) {
            const int slot = MotorSlot(b, c + 1);
            uint8_t* channel = block + kChannelBytes * c;
            // One load for both bytes: a page may change the word meanwhile.
            const uint16_t control = g_ctrlWord[slot].load();
            channel[0] = ControlLowByte(slot, control, bridgeMode);
            channel[1] = static_cast<uint8_t>(control >> 8);
            PutLittleEndian32(channel + 2, g_targetPos[slot].load());
        }
    }
}

void UnpackBridgeInputs(const uint8_t* in) {
    if (in == nullptr) return;
    const int count = TableBridgeCount();
    for (int b = 0; b < count; ++b) {
        if (!InputBlockUsable(b)) continue;
        const uint8_t* block = in + g_bridgeInOffset[b].load();
        for (int c = 0; c < kMotorsPerBridge; ++c) {
            const int slot = MotorSlot(b, c + 1);
            const uint8_t* channel = block + kChannelBytes * c;
            g_statusWord[slot] = ReadLittleEndian<uint16_t>(channel);
            g_actualPos[slot] = ReadLittleEndian<int32_t>(channel + 2);
        }
    }
}

void WriteTargetPosition(int bridge, int motor, int32_t position) {
    if (bridge < 0 || bridge >= TableBridgeCount() || motor < 1 || motor > kMotorsPerBridge) return;
    auto lock = LockProcessImage();
    uint8_t* out = ec_slave[0].outputs;
    if (out == nullptr || !OutputBlockUsable(bridge)) return;
    PutLittleEndian32(out + g_bridgeOutOffset[bridge].load() + kChannelBytes * (motor - 1) + 2,
                      position);
}

int ExchangeProcessData() {
    auto lock = LockProcessImage();
    ec_send_processdata();
    return ec_receive_processdata(kReceiveTimeoutUs);
}

void ProcessDataThread() {
    while (!BusThreadsStopping()) {
        if (g_busPause.load() == 0) {
            // An exchange whose frames were all lost counts 0, not the library's
            // no-frame code.
            g_wkc = std::max(ExchangeProcessData(), 0);
            g_cycleCount.fetch_add(1);
        }
        BusSleep(kCyclePauseMs);
    }
}
