#include "motor/uart_speed_switch.hpp"

#include <cstdio>

#include "bus/bus_stop.hpp"
#include "motor/motor_setup.hpp"
#include "platform/latin1.hpp"

std::atomic<int32_t> g_baudMode{0};
std::atomic<int32_t> g_baudPhase{0};
std::atomic<int32_t> g_baudErrors{0};

namespace {

// The bridge whose motors phase 0 told; phases 1 and 2 set and report it.
std::atomic<int32_t> toldSlave{0};

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

// A model the bridge table never holds: the request is dropped rather than
// retried (and reported) at every tick; the ticks while the box is open find
// it gone.
std::wstring DropForBadModel(int slave) {
    ++g_baudErrors;
    g_baudMode = 0;
    g_baudPhase = 0;
    CloseConfigWindow(slave);
    return L"Error 8888";
}

std::wstring TellMotors(int slave) {
    g_baudErrors = 0;
    const int32_t model = BridgeModelOfSlave(slave);
    if (model == kNotABridge) {
        g_baudErrors = 1;
        return {};
    }
    const int32_t mode = g_baudMode;
    if (!SendToEachMotor(slave, model, UnlockLine, BlankFirst::No)) {
        return DropForBadModel(slave);
    }
    PauseMs(PassesLinesSlowly(model) ? 40 : 20);
    if (mode == kBaudMode170k) {
        int32_t now = BridgeModelOfSlave(slave);
        if (now == kNotABridge) now = model;
        if (!SendToEachMotor(slave, now, Speed170kLine, BlankFirst::No)) {
            return DropForBadModel(slave);
        }
        PauseMs(PassesLinesSlowly(now) ? 40 : 20);
    } else {
        // Both kinds take the same line at these speeds.
        SendToEachMotor(slave, mode == kBaudMode38400 ? kSpeed38400Line : kSpeedThirdLine,
                        BlankFirst::No);
        PauseMs(20);
    }
    toldSlave = slave;
    g_baudPhase = 1;
    return {};
}

// The request opened the window of the slave chosen at the press; the bridge
// told in phase 0 may be another one, and a closed window would refuse the
// codes while its motors already listen at the new speed.
void SetChannels(int slave) {
    OpenConfigWindow(slave);
    PauseMs(40);
    SetBridgeChannelSpeeds(slave, ChannelCode(g_baudMode));
    PauseMs(40);
    g_baudPhase = 2;
}

std::wstring CloseAndReport(int slave) {
    g_baudPhase = 0;
    const int32_t mode = g_baudMode.exchange(0);
    CloseConfigWindow(slave);
    char text[128];
    std::snprintf(text, sizeof text, "UartSpeedChange OK\r\nSlaveNo = %d ,SpeedNo = %d ", slave,
                  mode);
    return Latin1ToWide(text);
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

std::wstring RunSpeedChangePhase(int slave) {
    if (g_baudMode == 0) return {};
    switch (g_baudPhase.load()) {
        case 0:
            return TellMotors(slave);
        case 1:
            SetChannels(toldSlave);
            return {};
        default:
            return CloseAndReport(toldSlave);
    }
}

void ResetUartSpeedSwitch() {
    for (auto* value : {&g_baudMode, &g_baudPhase, &g_baudErrors, &toldSlave}) *value = 0;
}
