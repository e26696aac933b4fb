// The CiA402 page's work on the devices, apart from its widgets: position moves
// at a speed in cyclic synchronous position mode, the motors' digital outputs
// and inputs, CPIO mode and the output test. All of it runs on the GUI thread
// and blocks it with fixed pauses; slaves are given by their slave number.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "bus/globals.hpp"

inline constexpr int32_t kCia402MinSpeed = 1;
inline constexpr int32_t kCia402MaxSpeed = 2000;
inline constexpr int32_t kCia402MaxPosition = 100000000;
inline constexpr int kOutTestPatterns = 16;  // 1..15, then 16, which lights no output

extern std::atomic<int32_t> g_cpioMode;        // 1 while CPIO mode is on
extern std::atomic<int32_t> g_outTestOn;       // 1 while the output test runs
extern std::atomic<int32_t> g_outTestPattern;  // the output test's next pattern, 1..16

// Puts the three values above back to their program-load values (tests).
void ResetCia402PageState();

// START: checks the slave (a bridge of the table), then S (1 to 6 characters,
// 1..2000; stored as the speed setting), A (1 to 6 characters; stored as the
// acceleration setting) and P (1 to 11 characters, 0..100000000; stored as the
// position setting), each failure with its own message. Then writes the
// acceleration word to the bridge, waits 200 ms, enables the four axes with P as
// their goal and S as their speed, and lets the ramp run. A refused START leaves
// the ramp as it was. Returns the refusal to show; the empty text when the move
// was started.
std::wstring StartMove(int slave, std::wstring_view speed, std::wstring_view accel,
                       std::wstring_view position);

// STOP: freezes the ramp at once, then waits 200 ms.
void StopMove();

// Once per run, when the bus is first ready: enables the four digital outputs
// (mask 0x60FE:02 = 15) on the four axes of every bridge of the table, 20 ms
// after each write.
void EnableBridgeOutputs();

// Gives the four motors of the bridge at `slave` the output bits `value` (0..15)
// and, unless the CPIO box is ticked, writes them to 0x60FE:01 of the slave's
// four axes. A slave that is no bridge gets only the writes.
void WriteOutputs(int slave, int value, bool cpioBox);

// Output bits of motor index 0..3 of the bridge at `slave` (any other index: the
// first motor). False for a slave that is no bridge.
bool MotorOutputs(int slave, int motorIndex, int* value);

// Digital inputs of axis 1..4 of `slave`, read as INTEGER32 from 0x60FD:00.
// 0 with the value; -1 when the read gave no value; -2 for an axis below 1.
int ReadDigitalInputs(int slave, int axis, int32_t* value);

// The input value the page shows for `slave`: in CPIO mode bits 4 to 7 of the
// first motor's statusword (none for a slave that is no bridge), otherwise
// ReadDigitalInputs of axis 1. False when there is no value.
bool ReadInputValue(int slave, int32_t* value);

// Actual positions of the four motors of the bridge at `slave`; false for a
// slave that is no bridge.
bool ReadMotorPositions(int slave, int32_t (&positions)[kMotorsPerBridge]);

// Switches every bridge into CPIO mode (on 1) or back to mode 8 (on 0) and
// records it in g_cpioMode.
void ApplyCpioMode(int on);

// The output test's pattern for this step as output bits (0..15); the next step
// takes the following pattern, after 16 the first again.
int TakeOutTestPattern();
