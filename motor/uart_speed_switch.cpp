#include "motor/uart_speed_switch.hpp"

#include <cstdio>

#include "bus/sdo_text.hpp"
#include "motor/motor_setup.hpp"
#include "platform/latin1.hpp"
#include "platform/message_box.hpp"

std::atomic<int32_t> g_baudMode{0};
std::atomic<int32_t> g_baudPhase{0};
std::atomic<int32_t> g_baudErrors{0};
std::atomic<int32_t> g_baudSlave{0};

namespace {

constexpr int kChannels = 4;

const char* MotorSpeedLine(int32_t mode, MotorKind kind) {
    switch (mode) {
        case kBaudMode38400:
            return kSpeed38400Line;
        case kBaudModeThird:
            return kSpeedThirdLine;
        default:
            return Speed170kLine(kind);
    }
}

uint32_t ChannelCode(int32_t mode) {
    switch (mode) {
        case kBaudMode38400:
            return kUartCode38400;
        case kBaudModeThird:
            return kUartCodeThird;
        default:
            return kUartCode170k;
    }
}

// Sends one line per channel, each by its motor kind, 20 ms after each; false
// (nothing sent) when the model names no motor kinds.
template <typename LineOf>
bool SendToEachChannel(int slave, int32_t model, LineOf lineOf) {
    MotorKind kinds[kChannels];
    for (int channel = 1; channel <= kChannels; ++channel) {
        if (!MotorKindOf(model, channel, &kinds[channel - 1])) return false;
    }
    for (int channel = 1; channel <= kChannels; ++channel) {
        SendTqlLine(slave, channel, lineOf(kinds[channel - 1]));
        PauseMs(20);
    }
    return true;
}

// A model the bridge table never holds: the request is dropped rather than
// retried (and reported) at every tick. Dropped before the box, whose ticks
// would otherwise run the phase again inside it.
void DropForBadModel(int slave) {
    ++g_baudErrors;
    g_baudMode = 0;
    g_baudPhase = 0;
    CloseConfigWindow(slave);
    ShowMessageBox(L"Error 8888");
}

void TellMotors(int slave) {
    g_baudErrors = 0;
    const int32_t model = BridgeModelOfSlave(slave);
    if (model == kNotABridge) {
        g_baudErrors = 1;
        return;
    }
    const int32_t mode = g_baudMode;
    if (!SendToEachChannel(slave, model, UnlockLine)) return DropForBadModel(slave);
    PauseMs(PassesLinesSlowly(model) ? 40 : 20);
    if (mode == kBaudMode170k) {
        int32_t now = BridgeModelOfSlave(slave);
        if (now == kNotABridge) now = model;
        if (!SendToEachChannel(slave, now, [](MotorKind k) { return Speed170kLine(k); })) {
            return DropForBadModel(slave);
        }
        PauseMs(PassesLinesSlowly(now) ? 40 : 20);
    } else {
        SendToEachChannel(slave, model, [mode](MotorKind k) { return MotorSpeedLine(mode, k); });
        PauseMs(20);
    }
    g_baudSlave = slave;
    g_baudPhase = 1;
}

// The request opened the window of the slave chosen at the press; the bridge
// told in phase 0 may be another one, and a closed window would refuse the
// codes while its motors already listen at the new speed.
void SetChannels(int slave) {
    OpenConfigWindow(slave);
    PauseMs(40);
    const uint32_t code = ChannelCode(g_baudMode);
    for (int channel = 1; channel <= kChannels; ++channel) {
        SetBridgeUartSpeed(slave, channel, code);
        PauseMs(20);
    }
    PauseMs(40);
    g_baudPhase = 2;
}

void CloseAndReport(int slave) {
    g_baudPhase = 0;
    const int32_t mode = g_baudMode.exchange(0);
    CloseConfigWindow(slave);
    char text[128];
    std::snprintf(text, sizeof text, "UartSpeedChange OK\r\nSlaveNo = %d ,SpeedNo = %d ", slave,
                  mode);
    ShowMessageBox(Latin1ToWide(text));
}

}  // namespace

bool RequestUartSpeedChange(int slave, int32_t mode) {
    if (g_baudMode != 0) return false;
    if (mode != kBaudMode38400 && mode != kBaudModeThird && mode != kBaudMode170k) return false;
    OpenConfigWindow(slave);
    g_baudMode = mode;
    g_baudPhase = 0;
    PauseMs(50);
    return true;
}

void RunSpeedChangePhase(int slave) {
    if (g_baudMode == 0) return;
    switch (g_baudPhase.load()) {
        case 0:
            return TellMotors(slave);
        case 1:
            return SetChannels(g_baudSlave);
        default:
            return CloseAndReport(g_baudSlave);
    }
}

void ResetUartSpeedSwitch() {
    for (auto* value : {&g_baudMode, &g_baudPhase, &g_baudErrors, &g_baudSlave}) *value = 0;
}
