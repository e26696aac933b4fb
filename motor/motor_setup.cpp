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

void OpenConfigWindow(int slave) {
    SdoWriteInt32(static_cast<uint16_t>(slave), kObjBridgeControl, kConfigWindowSubindex,
                  static_cast<int32_t>(kConfigWindowOpen));
}

void CloseConfigWindow(int slave) {
    SdoWriteInt32(static_cast<uint16_t>(slave), kObjBridgeControl, kConfigWindowSubindex, 0);
}

int32_t BridgeModelOfSlave(int slave) {
    const int ordinal = BridgeOrdinalOfSlave(slave);
    return ordinal < 0 ? kNotABridge : g_bridgeModel[ordinal].load();
}

void PauseMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
