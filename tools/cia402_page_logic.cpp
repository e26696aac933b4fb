#include "tools/cia402_page_logic.hpp"

#include <string>

#include "bus/bus_stop.hpp"
#include "bus/globals.hpp"
#include "bus/scan_thread.hpp"
#include "bus/sdo_text.hpp"
#include "settings/settings_values.hpp"
#include "tools/axis_modes.hpp"
#include "tools/field_number.hpp"

std::atomic<int32_t> g_cpioMode{0};
std::atomic<int32_t> g_outTestOn{0};
std::atomic<int32_t> g_outTestPattern{1};

namespace {

constexpr uint16_t kDigitalInputs = 0x60FD;

constexpr size_t kMaxSpeedChars = 6;
constexpr size_t kMaxAccelChars = 6;
constexpr size_t kMaxPositionChars = 11;

const wchar_t kNoBridge[] = L"SlaveNo Selection Error";
const wchar_t kSpeedLength[] = L"Speed Set Data Error !!!";
const wchar_t kSpeedRange[] = L"Set Data Error , Speed = 1 ---- 2000";
const wchar_t kPositionLength[] = L"Position Set Data Error !!!";
const wchar_t kPositionRange[] = L"Pos Set Data Error !!!, Pos = 0 --- 100000000.";

// Length as the edit field counts it, in UTF-16 units.
size_t FieldLength(std::wstring_view text) {
    size_t units = 0;
    for (const wchar_t c : text) units += static_cast<unsigned long>(c) > 0xFFFF ? 2 : 1;
    return units;
}

// A field's text of 1 to `maxChars` characters, read as a decimal number. False
// when the length is out of bounds (`lengthOk` false) or no number leads the text.
bool ReadField(std::wstring_view text, size_t maxChars, bool* lengthOk, int32_t* value) {
    const size_t length = FieldLength(text);
    *lengthOk = length >= 1 && length <= maxChars;
    return *lengthOk && ReadDecimalField(text, value);
}

}  // namespace

void ResetCia402PageState() {
    g_cpioMode = 0;
    g_outTestOn = 0;
    g_outTestPattern = 1;
}

std::wstring StartMove(int slave, std::wstring_view speed, std::wstring_view accel,
                       std::wstring_view position) {
    const int bridge = BridgeOrdinalOfSlave(slave);
    if (bridge < 0) return kNoBridge;

    bool lengthOk = false;
    int32_t s = 0;
    const bool speedRead = ReadField(speed, kMaxSpeedChars, &lengthOk, &s);
    if (!lengthOk) return kSpeedLength;
    if (!speedRead || s < kCia402MinSpeed || s > kCia402MaxSpeed) return kSpeedRange;
    g_cia402Speed = s;

    // The acceleration has no range of its own; its word counts 0 as 1.
    int32_t a = 0;
    if (!ReadField(accel, kMaxAccelChars, &lengthOk, &a)) return kSpeedLength;
    g_cia402Accel = a;

    int32_t p = 0;
    const bool positionRead = ReadField(position, kMaxPositionChars, &lengthOk, &p);
    if (!lengthOk) return kPositionLength;
    if (!positionRead || p < 0 || p > kCia402MaxPosition) return kPositionRange;
    g_cia402Pos = p;

    WriteAccelerationWord(SlaveOfBridge(bridge), a);
    PauseMs(200);
    for (int m = 1; m <= kMotorsPerBridge; ++m) {
        const int slot = MotorSlot(bridge, m);
        g_ctrlWord[slot] |= kControlEnableOperation;
        g_movePos[slot] = p;
        g_moveSpeed[slot] = static_cast<uint32_t>(s);
    }
    // Only now, with every goal new: a refused START, or the pause above, must not
    // send the motors on toward the goals of an earlier move.
    g_moveStop = 0;
    return {};
}

void StopMove() {
    StopPositionRamp();
    PauseMs(200);
}

void EnableBridgeOutputs() {
    const int count = g_bridgeCount.load();
    for (int b = 0; b < count && b < kBridgeRows; ++b) {
        const int slave = SlaveOfBridge(b);
        for (int axis = 0; axis < kMotorsPerBridge; ++axis) {
            EnableAxisOutputs(slave, axis);
            PauseMs(20);
        }
    }
}

void WriteOutputs(int slave, int value, bool cpioBox) {
    const int bridge = BridgeOrdinalOfSlave(slave);
    for (int axis = 0; axis < kMotorsPerBridge; ++axis) {
        if (bridge >= 0) g_digOut[MotorSlot(bridge, axis + 1)] = static_cast<uint32_t>(value);
        if (!cpioBox && slave >= 1) WriteAxisOutputs(slave, axis, value);
    }
}

bool MotorOutputs(int slave, int motorIndex, int* value) {
    const int bridge = BridgeOrdinalOfSlave(slave);
    if (bridge < 0) return false;
    const int motor = motorIndex >= 0 && motorIndex < kMotorsPerBridge ? motorIndex + 1 : 1;
    *value = static_cast<int>(g_digOut[MotorSlot(bridge, motor)].load() & kAllAxisOutputs);
    return true;
}

int ReadDigitalInputs(int slave, int axis, int32_t* value) {
    if (axis < 1) return -2;
    if (slave < 1) return -1;  // no slave chosen
    // A slave without a mailbox uploads nothing: that is no value, not a zero.
    const SdoText read = SdoReadText(static_cast<uint16_t>(slave),
                                     AxisObject(kDigitalInputs, axis - 1), 0, kCoeInteger32);
    if (!read.uploaded || !ReadParenthesisedNumber(read.text, value)) return -1;
    return 0;
}

bool ReadInputValue(int slave, int32_t* value) {
    if (g_cpioMode.load() == 1) {
        const int bridge = BridgeOrdinalOfSlave(slave);
        if (bridge < 0) return false;
        *value = static_cast<int32_t>((g_statusWord[MotorSlot(bridge, 1)].load() >> 4) & 0x0F);
        return true;
    }
    return ReadDigitalInputs(slave, 1, value) == 0;
}

bool ReadMotorPositions(int slave, int32_t (&positions)[kMotorsPerBridge]) {
    const int bridge = BridgeOrdinalOfSlave(slave);
    if (bridge < 0) return false;
    for (int m = 1; m <= kMotorsPerBridge; ++m)
        positions[m - 1] = g_actualPos[MotorSlot(bridge, m)];
    return true;
}

void ApplyCpioMode(int on) {
    g_cpioMode = on;
    SetCpioMode(on);
}

int TakeOutTestPattern() {
    const int32_t pattern = g_outTestPattern.load();
    g_outTestPattern = pattern >= kOutTestPatterns ? 1 : pattern + 1;
    return pattern & kAllAxisOutputs;
}
