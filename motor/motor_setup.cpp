#include "motor/motor_setup.hpp"

#include "bus/bus_stop.hpp"
#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"

namespace {

void SendToMotor(int slave, int motor, const char* line, BlankFirst blank) {
    if (blank == BlankFirst::Yes) {
        SendTqlLine(slave, motor, kBlankLine);
        PauseMs(20);
    }
    SendTqlLine(slave, motor, line);
    PauseMs(20);
}

}  // namespace

void SendToEachMotor(int slave, const char* line, BlankFirst blank) {
    for (int motor = 1; motor <= kMotorsPerBridge; ++motor) SendToMotor(slave, motor, line, blank);
}

bool SendToEachMotor(int slave, int32_t model, const char* (*lineOf)(MotorKind), BlankFirst blank) {
    MotorKind kinds[kMotorsPerBridge];
    for (int motor = 1; motor <= kMotorsPerBridge; ++motor) {
        if (!MotorKindOf(model, motor, &kinds[motor - 1])) return false;
    }
    for (int motor = 1; motor <= kMotorsPerBridge; ++motor) {
        SendToMotor(slave, motor, lineOf(kinds[motor - 1]), blank);
    }
    return true;
}

void SetBridgeChannelSpeeds(int slave, uint32_t code) {
    for (int channel = 1; channel <= kMotorsPerBridge; ++channel) {
        SetBridgeUartSpeed(slave, channel, code);
        PauseMs(20);
    }
}

bool PassesLinesSlowly(int32_t model) {
    return model == kModelZr01 || model == kModelZr02;
}

void OpenConfigWindow(int slave) {
    SdoWriteInt32(static_cast<uint16_t>(slave), ObjBoardCommand, kConfigWindowSubindex,
                  static_cast<int32_t>(kConfigWindowOpen));
}

void CloseConfigWindow(int slave) {
    SdoWriteInt32(static_cast<uint16_t>(slave), ObjBoardCommand, kConfigWindowSubindex, 0);
}

int32_t BridgeModelOfSlave(int slave) {
    const int ordinal = BridgeOrdinalOfSlave(slave);
    return ordinal < 0 ? kNotABridge : g_bridgeModel[ordinal].load();
}
