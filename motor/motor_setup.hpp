// What the motor set-up procedures share: the motor kind of each channel by
// bridge model, the unlock and K-parameter lines, the bridge's configuration
// window and the bridge look-up by slave number.
#pragma once

#include <cstdint>

#include "bus/bridge_board.hpp"

inline constexpr char kBlankLine[] = "  \r\n";
inline constexpr char kUnlockLineA[] = "W.1=358";
inline constexpr char kUnlockLineB[] = "W.1=6042";
inline constexpr char kSpeed38400Line[] = "K20.1=0";
inline constexpr char kSpeedThirdLine[] = "K20.1=3";
inline constexpr char kSpeed170kLineA[] = "K20.1=6";
inline constexpr char kSpeed170kLineB[] = "K20.1=8";
inline constexpr char kParamSetLine[] = "K16.1=4,K23.1=9,K70.1=0,K67.1=1,K37.1=10";
inline constexpr char kParamQueryLine[] = "K16.1,K23.1,K70.1,K67.1,K37.1";

// Serial speed codes of the bridge's motor channels.
inline constexpr uint32_t kUartCode38400 = 0;
inline constexpr uint32_t kUartCodeThird = 3;
inline constexpr uint32_t kUartCode170k = 6;

inline const char* UnlockLine(MotorKind kind) {
    return kind == MotorKind::A ? kUnlockLineA : kUnlockLineB;
}
inline const char* Speed170kLine(MotorKind kind) {
    return kind == MotorKind::A ? kSpeed170kLineA : kSpeed170kLineB;
}

// Sends `line` to motors 1..4 of `slave` in order, 20 ms after each line; with
// BlankFirst::Yes the blank line, and 20 ms, before each (the initialisation
// clears whatever a motor may hold of a broken line; the speed switch doesn't).
enum class BlankFirst : bool { No, Yes };
void SendToEachMotor(int slave, const char* line, BlankFirst blank);
// The same with the line for each motor's kind on a bridge of `model`; false,
// and nothing sent, when the model names no motor kinds.
bool SendToEachMotor(int slave, int32_t model, const char* (*lineOf)(MotorKind), BlankFirst blank);

// Writes `code` to the serial speed of the four channels of `slave`, 20 ms after
// each write.
void SetBridgeChannelSpeeds(int slave, uint32_t code);

// ZR01 and ZR02 take a little longer to pass the last of a group of lines on;
// the procedures wait 20 ms more for them.
bool PassesLinesSlowly(int32_t model);

// The bridge configuration window (ObjBoardCommand:03): opened before a
// procedure writes channel speeds or bridge parameters, closed after.
void OpenConfigWindow(int slave);
void CloseConfigWindow(int slave);

// The model of `slave` when it is one of the first g_bridgeCount entries of the
// bridge table (the first such entry counts), else kNotABridge.
inline constexpr int32_t kNotABridge = -1;
int32_t BridgeModelOfSlave(int slave);
