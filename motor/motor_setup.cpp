#include "motor/motor_setup.hpp"

#include <chrono>
#include <thread>

#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"

bool MotorKindOf(int32_t model, int channel, MotorKind* kind) {
    switch (model) {
        case kModelZr01:
            *kind = MotorKind::A;
            return true;
        case kModelZr02:
            *kind = MotorKind::B;
            return true;
        case kModelZr12:
            *kind = channel <= 2 ? MotorKind::A : MotorKind::B;
            return true;
        default:
            return false;
    }
}

bool PassesLinesSlowly(int32_t model) {
    return model == kModelZr01 || model == kModelZr02;
}

void WriteObjectInt32(int slave, uint16_t index, uint8_t subindex, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8),
                              static_cast<uint8_t>(u >> 16), static_cast<uint8_t>(u >> 24)};
    SdoWriteBytes(static_cast<uint16_t>(slave), index, subindex, sizeof bytes, bytes);
}

void OpenConfigWindow(int slave) {
    WriteObjectInt32(slave, kObjBridgeControl, kConfigWindowSubindex,
                     static_cast<int32_t>(kConfigWindowOpen));
}

void CloseConfigWindow(int slave) {
    WriteObjectInt32(slave, kObjBridgeControl, kConfigWindowSubindex, 0);
}

int32_t BridgeModelOfSlave(int slave) {
    const int ordinal = BridgeOrdinalOfSlave(slave);
    return ordinal < 0 ? kNotABridge : g_bridgeModel[ordinal].load();
}

void PauseMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
