#include "tools/homing.hpp"

#include <cstdio>

#include "bus/bridge_board.hpp"
#include "bus/bus_stop.hpp"
#include "bus/globals.hpp"
#include "bus/sdo_text.hpp"
#include "platform/latin1.hpp"
#include "tools/axis_modes.hpp"
#include "tools/coe_access.hpp"
#include "tools/field_number.hpp"

std::atomic<int32_t> g_homingActive{0};
std::atomic<int32_t> g_homingResult{kHomingNoRun};
std::atomic<int32_t> g_homingTicks{0};
std::atomic<int32_t> g_homingBlink{0};
std::atomic<int32_t> g_homingMotor{1};

namespace {

// The axis's homing objects (axis 0; AxisObject moves them to the motor's axis).
constexpr uint16_t kHomingMethod = 0x6098;
constexpr uint16_t kHomeOffset = 0x607C;
constexpr uint16_t kHomingSpeeds = 0x6099;
constexpr uint8_t kSwitchSpeedSubindex = 1;
constexpr uint8_t kZeroSpeedSubindex = 2;
constexpr uint16_t kHomingAcceleration = 0x609A;
// Motor parameter K<n> is subindex n - 20 of this object.
constexpr uint16_t kMotorParams = 0x60F6;
constexpr int kMotorParamBase = 20;
constexpr int kMaxMotorParam = 99;
constexpr int kTorqueParam = 47;
constexpr int kHomingInputParam = 27;

constexpr uint16_t kControlHomingStart = 0x001F;  // enable operation, bit 4: start
constexpr uint16_t kControlHalt = 0x010F;         // enable operation, bit 8: halt

constexpr uint32_t kBitHomingAttained = 0x1000;
constexpr uint32_t kBitHomingError = 0x2000;
constexpr uint32_t kBitMotorError = 0x4000;

constexpr int kWritePauseMs = 50;
constexpr int kPulseMs = 200;
constexpr int kHaltSteps = 6;

constexpr int kTicksPerSecond = 32;  // the seconds the status texts count
constexpr int kBlinkShownTicks = 8;
constexpr int kBlinkPeriodTicks = 16;
// A motor that reports nothing after a halt: the run ends this many ticks after
// the halt pulse, so that the page is free for the next hm Start.
constexpr int kHaltReportTicks = 2 * kTicksPerSecond;

constexpr int32_t kMaxInputDigits = 999999;

constexpr wchar_t kOfflineMessage[] = L"Motor OffLine Error!!!";
constexpr wchar_t kRunningMessage[] = L"Motor Homing!!!!";
constexpr wchar_t kK27ReadMessage[] = L"Data Error , at Read K27";

constexpr char kRunningText[] = "Homing Run ( Elapsed time: %d ) ";
constexpr wchar_t kBlankText[] = L"    ";
constexpr char kMotorErrorText[] = "Homing Run Motor ERROR  Time ( %d ) .....";
constexpr char kHomingErrorText[] = "Homing Run ERROR  timeOut , Time ( %d ) .....";
constexpr char kEndedText[] = "Homing Run End. Time ( %d ) .....";

// The run being supervised: its bridge and motor as hm Start took them, whatever
// the page's lists show later.
struct Run {
    int slave = 0;
    int motor = 1;
    uint32_t modeSwitches = 0;  // AxisModeSwitches() when the run began
    int haltTicksLeft = 0;      // counts down after Stop hm; 0 while no halt waits
};
Run run;

// Shadow-array entry of motor 1..4 of `slave`; -1 when the slave is not a bridge.
int MotorSlotOf(int slave, int motor) {
    const int bridge = BridgeOrdinalOfSlave(slave);
    if (bridge < 0 || motor < 1 || motor > kMotorsPerBridge) return -1;
    return MotorSlot(bridge, motor);
}

bool MotorOnline(int slave, int motor) {
    const int slot = MotorSlotOf(slave, motor);
    return slot >= 0 && g_motorOnline[slot].load() == 1;
}

void SetRunControlWord(uint16_t control) {
    const int slot = MotorSlotOf(run.slave, run.motor);
    if (slot >= 0) g_ctrlWord[slot] = control;
}

uint32_t RunStatusWord() {
    const int slot = MotorSlotOf(run.slave, run.motor);
    return slot >= 0 ? g_statusWord[slot].load() : 0;
}

std::wstring Format(const char* format, int seconds) {
    char text[256];
    std::snprintf(text, sizeof text, format, seconds);
    return Latin1ToWide(text);
}

// Ends the run with `result`; the text shows the seconds it took.
std::wstring EndRun(int32_t result, const char* format, int seconds) {
    g_homingActive = 0;
    g_homingResult = result;
    g_homingTicks = 0;
    run.haltTicksLeft = 0;
    return Format(format, seconds);
}

struct FieldRule {
    std::wstring HomingFields::*text;
    int32_t HomingValues::*value;
    const wchar_t* name;
    int32_t min;
    int32_t max;
};
constexpr FieldRule kOffsetRule{&HomingFields::offset, &HomingValues::offset, L"hmOffset", -32516,
                                32515};
constexpr FieldRule kSpeedRules[] = {
    {&HomingFields::switchSpeed, &HomingValues::switchSpeed, L"hmSpeed1", 1, 40000},
    {&HomingFields::zeroSpeed, &HomingValues::zeroSpeed, L"hmSpeed2", 1, 40000},
    {&HomingFields::acceleration, &HomingValues::acceleration, L"hmAccel", 1, 40000},
};
constexpr FieldRule kTorqueRule{&HomingFields::torque, &HomingValues::torque, L"hmK47", 10, 100};

// A text that holds no number is refused like an empty one.
std::wstring CheckField(const HomingFields& fields, const FieldRule& rule, HomingValues* values) {
    const std::wstring message = std::wstring(L"Data Error at ") + rule.name;
    int32_t value = 0;
    if ((fields.*rule.text).empty() || !ReadDecimalField(fields.*rule.text, &value)) {
        return message;
    }
    if (value < rule.min || value > rule.max) return message + L", data error";
    values->*rule.value = value;
    return {};
}

bool IsSwitchType(int32_t type) {
    return type == kHomingSwitchCw || type == kHomingSwitchCcw;
}

}  // namespace

std::wstring CheckHomingFields(const HomingFields& fields, HomingValues* values) {
    std::wstring refusal = CheckField(fields, kOffsetRule, values);
    for (const FieldRule& rule : kSpeedRules) {
        if (!refusal.empty()) return refusal;
        refusal = CheckField(fields, rule, values);
    }
    if (refusal.empty() && !IsSwitchType(fields.homingType)) {
        refusal = CheckField(fields, kTorqueRule, values);
    }
    return refusal;
}

std::wstring StartHoming(const HomingFields& fields) {
    const int slave = fields.slaveIndex + 1;
    const int motor = fields.motorIndex + 1;
    if (!MotorOnline(slave, motor)) return kOfflineMessage;
    if (g_homingActive.load() != 0) return kRunningMessage;
    const auto target = static_cast<uint16_t>(slave);
    if (fields.storeFlag != 0) SdoWriteInt32(target, ObjBoardCommand, kStoreSubindex, kStoreWord);
    g_homingMotor = motor;

    HomingValues values;
    if (std::wstring refusal = CheckHomingFields(fields, &values); !refusal.empty()) {
        return refusal;
    }
    const bool switchType = IsSwitchType(fields.homingType);
    int32_t k27 = 0;
    // A K27 beyond six digits has no input digits to mark: it is not rewritten.
    if (switchType && (ReadMotorParamK(motor, kHomingInputParam, &k27, slave) != 0 || k27 < 0 ||
                       k27 > kMaxInputDigits)) {
        return kK27ReadMessage;
    }

    const int axis = motor - 1;
    PauseMs(kWritePauseMs);
    SdoWriteInt32(target, AxisObject(kHomingMethod, axis), 0, fields.homingType + 1);
    PauseMs(kWritePauseMs);
    SdoWriteInt32(target, AxisObject(kHomeOffset, axis), 0, values.offset);
    PauseMs(kWritePauseMs);
    SdoWriteInt32(target, AxisObject(kHomingSpeeds, axis), kSwitchSpeedSubindex,
                  values.switchSpeed);
    SdoWriteInt32(target, AxisObject(kHomingSpeeds, axis), kZeroSpeedSubindex, values.zeroSpeed);
    PauseMs(kWritePauseMs);
    SdoWriteInt32(target, AxisObject(kHomingAcceleration, axis), 0, values.acceleration);
    PauseMs(kWritePauseMs);
    if (switchType) {
        SdoWriteInt32(target, AxisObject(kMotorParams, axis), kHomingInputParam - kMotorParamBase,
                      SetHomingInputDigit(k27, fields.homingInput));
    } else {
        SdoWriteInt32(target, AxisObject(kMotorParams, axis), kTorqueParam - kMotorParamBase,
                      values.torque);
    }

    run = Run{slave, motor, AxisModeSwitches(), 0};
    PauseMs(kPulseMs);
    SetRunControlWord(kControlHomingStart);
    PauseMs(kPulseMs);
    g_homingActive = 1;
    g_homingResult = kHomingRunning;
    SetRunControlWord(kControlEnableOperation);
    return {};
}

std::wstring SuperviseHoming() {
    if (g_homingActive.load() == 0) return {};
    const int ticks = ++g_homingTicks;
    const int seconds = ticks / kTicksPerSecond;
    const int blink = ++g_homingBlink;
    const std::wstring running =
        blink > kBlinkShownTicks ? kBlankText : Format(kRunningText, seconds);
    if (blink >= kBlinkPeriodTicks) g_homingBlink = 0;

    // Bits 12 to 14 mean homing results only in homing mode (in mode 8 bit 12
    // says the drive follows its target): a switch of the axes ends the run.
    if (AxisModeSwitches() != run.modeSwitches) {
        return EndRun(kHomingError, kHomingErrorText, seconds);
    }
    // A bridge the bus has lost reports nothing any more, however long we wait.
    if (SlaveIsLost(run.slave)) return EndRun(kHomingError, kHomingErrorText, seconds);
    const uint32_t status = RunStatusWord();
    if ((status & kBitMotorError) != 0) return EndRun(kHomingMotorError, kMotorErrorText, seconds);
    if ((status & kBitHomingError) != 0) return EndRun(kHomingError, kHomingErrorText, seconds);
    if ((status & kBitHomingAttained) != 0) return EndRun(kHomingEnded, kEndedText, seconds);
    if (run.haltTicksLeft > 0 && --run.haltTicksLeft == 0) {
        return EndRun(kHomingError, kHomingErrorText, seconds);
    }
    return running;
}

void StopHoming() {
    if (g_homingActive.load() != 1) return;
    SetRunControlWord(kControlHalt);
    for (int step = 0; step < kHaltSteps; ++step) PauseMs(kWritePauseMs);
    SetRunControlWord(kControlEnableOperation);
    // A second halt does not put the end further off.
    if (run.haltTicksLeft == 0) run.haltTicksLeft = kHaltReportTicks;
}

uint32_t HomingStatusColour(int32_t result) {
    switch (result) {
        case kHomingRunning:
            return 0x000064;
        case kHomingMotorError:
            return 0xFF0000;
        case kHomingError:
            return 0xFF00FF;
        case kHomingEnded:
            return 0x0000FF;
        default:
            return 0x000000;
    }
}

int ReadMotorParamK(int motor, int k, int32_t* value, int slave) {
    if (k > kMaxMotorParam || motor < 1 || motor > kMotorsPerBridge) return -2;
    const auto subindex = static_cast<uint8_t>(k - kMotorParamBase);
    const SdoText read = SdoReadText(static_cast<uint16_t>(slave),
                                     AxisObject(kMotorParams, motor - 1), subindex, kCoeInteger32);
    // An upload that brought nothing leaves a zero buffer, which is no value.
    int32_t number = 0;
    if (!read.uploaded || !ReadParenthesisedNumber(read.text, &number)) return -1;
    *value = number;
    return 0;
}

int32_t SetHomingInputDigit(int32_t value, int inputIndex) {
    if (value < 0 || value > kMaxInputDigits) return value;
    int32_t result = 0;
    int32_t place = 1;
    for (int k = 0; k < 6; ++k, place *= 10) {
        int32_t digit = value / place % 10;
        if (k == inputIndex) {
            digit = 2;
        } else if (digit == 2) {
            digit = 1;
        }
        result += digit * place;
    }
    return result;
}

void ResetHomingState() {
    g_homingActive = 0;
    g_homingResult = kHomingNoRun;
    g_homingTicks = 0;
    g_homingBlink = 0;
    g_homingMotor = 1;
    run = Run{};
}
