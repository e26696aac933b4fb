// The CiA402 homing of one motor from the CoE page: the checks and object writes
// of "hm Start", the controlword pulse that starts the run, the supervision of
// the motor's statusword on every tick of the page's timer, and the halt pulse of
// "Stop hm". Everything runs on the GUI thread and blocks it for its pauses.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// ---- the run's state, shared by the page's handlers and its timer ----
// 1 while a homing run is supervised, else 0.
extern std::atomic<int32_t> g_homingActive;
// How the last run stands (kHomingNoRun ... kHomingEnded).
extern std::atomic<int32_t> g_homingResult;
// Timer ticks counted by the supervision since the last run ended; 32 make the
// second the status texts show.
extern std::atomic<int32_t> g_homingTicks;
// Blink phase of the running text, 0..16: shown for 8 ticks, blank for 8.
extern std::atomic<int32_t> g_homingBlink;
// Motor 1..4 that the last hm Start was pressed for.
extern std::atomic<int32_t> g_homingMotor;

inline constexpr int32_t kHomingNoRun = 0;
inline constexpr int32_t kHomingRunning = 1;
inline constexpr int32_t kHomingMotorError = 2;  // statusword bit 14
inline constexpr int32_t kHomingError = 3;       // bit 13, or a run that could not report
inline constexpr int32_t kHomingEnded = 4;       // bit 12, homing attained

// The homing types of the page's list; the homing method written is index + 1.
// The stopper types push against a stop with the torque K47, the switch types
// look for the homing input that K27 marks.
inline constexpr int32_t kHomingStopperCw = 0;
inline constexpr int32_t kHomingStopperCcw = 1;
inline constexpr int32_t kHomingSwitchCw = 2;
inline constexpr int32_t kHomingSwitchCcw = 3;

// What the homing group of the page holds when "hm Start" is pressed.
struct HomingFields {
    int32_t slaveIndex = 0;  // slave number = index + 1
    int32_t motorIndex = 0;  // motor number = index + 1
    int32_t homingType = kHomingStopperCw;
    int32_t storeFlag = 0;  // write the store word first
    std::wstring offset = L"0";
    std::wstring switchSpeed = L"500";
    std::wstring zeroSpeed = L"500";
    std::wstring acceleration = L"500";
    std::wstring torque = L"20";  // stopper types only
    int32_t homingInput = 0;      // switch types only: INPUT1..INPUT6 as 0..5
};

// The fields' values once checked.
struct HomingValues {
    int32_t offset = 0;
    int32_t switchSpeed = 0;
    int32_t zeroSpeed = 0;
    int32_t acceleration = 0;
    int32_t torque = 0;
};

// Checks offset, the two speeds, the acceleration and, for the stopper types, the
// torque, in that order. Returns the message of the first that fails ("Data Error
// at hmSpeed1" when empty or without a number, "..., data error" when out of
// range), or the empty text with the values filled.
std::wstring CheckHomingFields(const HomingFields& fields, HomingValues* values);

// "hm Start": checks the motor, the run state and the fields, reads K27 for the
// switch types, writes the motor's homing objects and starts the run with a
// controlword pulse. Returns the message to show; the empty text when the run
// started. A refusal writes no homing object.
std::wstring StartHoming(const HomingFields& fields);

// One supervision step of the active run: counts the tick and judges the run's
// motor by its statusword. Returns the status text to show. A run ends as a
// homing error when its axes were switched to another mode meanwhile, when the
// bus has lost its bridge, or when no result came within about two seconds of a
// halt.
std::wstring SuperviseHoming();

// "Stop hm": while a run is active, holds the halt bit of the run's motor for
// 300 ms. The run ends when the motor reports, or as a homing error when it does
// not.
void StopHoming();

// Text colour of the status field for a result, as 0xRRGGBB.
uint32_t HomingStatusColour(int32_t result);

// Reads motor parameter K`k` of motor 1..4 of `slave` through the axis's object
// 0x60F6, subindex k - 20. Returns 0 with the value stored, -1 when the read gave
// no value, -2 for k above 99 or a motor outside 1..4 (no device access then).
int ReadMotorParamK(int motor, int k, int32_t* value, int slave);

// Marks homing input 0..5 in K27, whose six low decimal digits stand for inputs 1
// to 6 from the right: the input's digit becomes 2 and any other 2 becomes 1.
// Values outside 0..999999 come back unchanged.
int32_t SetHomingInputDigit(int32_t value, int inputIndex);

// Puts the homing state back to its program-load values (tests).
void ResetHomingState();
