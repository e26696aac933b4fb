// Operating modes of every motor axis of every bridge: TQL pass-through (101),
// homing (6), cyclic synchronous position (8) and the bridge's CPIO mode (121).
// Each writes object 0x6060 + axis * 0x800 by SDO and sets the axes'
// controlwords; all run on the GUI thread with fixed pauses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr int kModeTql = 101;
inline constexpr int kModeHoming = 6;
inline constexpr int kModeCsp = 8;
inline constexpr int kModeCpio = 121;

// CiA402 object `base` of axis 0..3 (motor 1..4): each axis's objects lie 0x800
// above the one before.
constexpr uint16_t AxisObject(uint16_t base, int axis) {
    return static_cast<uint16_t>(base + axis * 0x800);
}

// Controlword of an axis that is switched on and enabled for operation.
inline constexpr uint16_t kControlEnableOperation = 0x000F;
// The four digital outputs of an axis, as bits 0..3.
inline constexpr int32_t kAllAxisOutputs = 0x0F;

// These three return 0.
int SetAllMotorsMode101();
int SetAllMotorsHomingMode();
// on 1: mode 121 with controlword 0xC00F; on 0: mode 8 with 0x000F.
int SetCpioMode(int on);

// Also makes every target follow its actual position and reads the mode back.
// Returns what to tell the user, one box each: "Error Mode Change fault!!!" for
// every bridge whose axes did not all report mode 8 (the others are switched
// all the same); empty when every bridge did.
std::vector<std::wstring> SetAllMotorsCspMode();

// How many switches of all axes there have been, each counted before its first
// write: a procedure that needs the axes to stay in one mode (a homing run) sees
// any switch made meanwhile.
uint32_t AxisModeSwitches();

// Lets all four digital outputs of axis 0..3 of `slave` through: its output mask
// 0x60FE:02 (+ axis * 0x800) := 15. No check; the result is not looked at.
void EnableAxisOutputs(int slave, int axis);

// Sets the digital outputs of axis 0..3 of `slave` to bits 0..3 of `value`:
// 0x60FE:01 (+ axis * 0x800). No check; the result is not looked at.
void WriteAxisOutputs(int slave, int axis, int32_t value);
