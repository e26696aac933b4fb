#include "tools/axis_modes.hpp"

#include <atomic>
#include <cstdint>

#include "bus/bus_stop.hpp"
#include "bus/globals.hpp"
#include "bus/process_image.hpp"
#include "bus/sdo_text.hpp"

namespace {

constexpr uint16_t kModesOfOperation = 0x6060;
constexpr uint16_t kModesOfOperationDisplay = 0x6061;
constexpr uint16_t kDigitalOutputs = 0x60FE;
constexpr uint8_t kOutputsSubindex = 1;
constexpr uint8_t kOutputMaskSubindex = 2;
constexpr uint16_t kSwitchOn = 0x0007;
constexpr uint16_t kCpioControl = 0xC00F;
constexpr int kReadBackPasses = 50;
constexpr int kCopyPasses = 8;

std::atomic<uint32_t> axisModeSwitches{0};

void WriteMode(int bridge, int axis, int32_t mode) {
    SdoWriteInt32(SlaveOfBridge(bridge), AxisObject(kModesOfOperation, axis), 0, mode);
}

void SetControlWords(int bridge, uint16_t control) {
    for (int m = 1; m <= kMotorsPerBridge; ++m) g_ctrlWord[MotorSlot(bridge, m)] = control;
}

// Every bridge: the four axes' controlwords, then the mode of each axis with a
// pause after every write.
void SwitchAllBridges(uint16_t control, int32_t mode, int pauseMs) {
    ++axisModeSwitches;
    const int count = g_bridgeCount.load();
    for (int b = 0; b < count; ++b) {
        SetControlWords(b, control);
        for (int axis = 0; axis < kMotorsPerBridge; ++axis) {
            WriteMode(b, axis, mode);
            PauseMs(pauseMs);
        }
    }
}

// The axis's target follows its actual position, in the shadow and in the image.
void HoldAtActualPosition(int bridge, int axis) {
    const int slot = MotorSlot(bridge, axis + 1);
    const int32_t actual = g_actualPos[slot].load();
    g_targetPos[slot] = actual;
    WriteTargetPosition(bridge, axis + 1, actual);
}

bool AxisReportsCsp(int bridge, int axis) {
    int16_t mode = 0;
    return ReadObjectInt16(SlaveOfBridge(bridge), AxisObject(kModesOfOperationDisplay, axis),
                           &mode) == 2 &&
           mode == kModeCsp;
}

// False when the bridge's axes did not all report mode 8.
bool SettleBridgeInCsp(int bridge) {
    bool switched[kMotorsPerBridge] = {};
    bool all = false;
    for (int pass = 0; pass < kReadBackPasses && !all; ++pass) {
        for (int axis = 0; axis < kMotorsPerBridge; ++axis) {
            HoldAtActualPosition(bridge, axis);
            PauseMs(20);
            if (AxisReportsCsp(bridge, axis)) switched[axis] = true;
        }
        all = switched[0] && switched[1] && switched[2] && switched[3];
    }
    for (int pass = 0; pass < kCopyPasses; ++pass) {
        for (int axis = 0; axis < kMotorsPerBridge; ++axis) {
            HoldAtActualPosition(bridge, axis);
            PauseMs(20);
        }
        PauseMs(20);
    }
    return all;
}

}  // namespace

int SetAllMotorsMode101() {
    SwitchAllBridges(kSwitchOn, kModeTql, 30);
    PauseMs(100);
    return 0;
}

int SetAllMotorsHomingMode() {
    SwitchAllBridges(kSwitchOn, kModeHoming, 30);
    PauseMs(100);
    return 0;
}

std::vector<std::wstring> SetAllMotorsCspMode() {
    SwitchAllBridges(kControlEnableOperation, kModeCsp, 20);
    std::vector<std::wstring> say;
    const int count = g_bridgeCount.load();
    for (int b = 0; b < count; ++b) {
        if (!SettleBridgeInCsp(b)) say.emplace_back(L"Error Mode Change fault!!!");
    }
    PauseMs(20);
    return say;
}

int SetCpioMode(int on) {
    const bool cpio = on == 1;
    SwitchAllBridges(cpio ? kCpioControl : kControlEnableOperation, cpio ? kModeCpio : kModeCsp,
                     30);
    PauseMs(500);
    return 0;
}

uint32_t AxisModeSwitches() {
    return axisModeSwitches.load();
}

void EnableAxisOutputs(int slave, int axis) {
    SdoWriteInt32(static_cast<uint16_t>(slave), AxisObject(kDigitalOutputs, axis),
                  kOutputMaskSubindex, kAllAxisOutputs);
}

void WriteAxisOutputs(int slave, int axis, int32_t value) {
    SdoWriteInt32(static_cast<uint16_t>(slave), AxisObject(kDigitalOutputs, axis), kOutputsSubindex,
                  value);
}
