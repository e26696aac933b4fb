// What the procedures know of a bridge board beyond its motor text channel: the
// board command object with its unlock word, the identity parameters, and the
// kind of motor that each channel serves by bridge model.
#pragma once

#include <cstdint>

// ObjBoardCommand: :02 UnlockWord opens the identity and loader objects (any
// other word locks them again), :03 the configuration window, :04 the
// acceleration word, :06 the store word.
inline constexpr uint16_t ObjBoardCommand = 0xF550;
inline constexpr uint8_t kUnlockWordSubindex = 2;
inline constexpr int32_t kUnlockWord = 0x7E2B;
inline constexpr uint8_t kConfigWindowSubindex = 3;
inline constexpr uint32_t kConfigWindowOpen = 0x6D3F1;
inline constexpr uint8_t kAccelerationSubindex = 4;
inline constexpr uint8_t kStoreSubindex = 6;
inline constexpr int32_t kStoreWord = 0x0639A4D2;  // keeps the motor's homing settings

// ObjBoardPara: the bridge parameters :01..:07, and the identity.
inline constexpr uint16_t ObjBoardPara = 0xF540;
inline constexpr uint8_t kBoardTypeSubindex = 0x0B;  // the bridge model, 1 ZR01 .. 3 ZR12
inline constexpr uint8_t kBoardNoSubindex = 0x0C;    // the board serial number

// MotorKind of each channel: subindex 1 of ObjUartChannel + channel.
inline constexpr uint8_t kMotorKindSubindex = 1;

// Channel kinds: ZR01 all A, ZR02 all B, ZR12 channels 1 and 2 A, 3 and 4 B.
enum class MotorKind { A, B };

// The kind of `channel` (1..4) on a bridge of `model`; false for a model other
// than 1 to 3.
bool MotorKindOf(int32_t model, int channel, MotorKind* kind);

// The value a MotorKind object takes for a kind: 1 for A, 2 for B.
constexpr int32_t MotorKindCode(MotorKind kind) {
    return kind == MotorKind::A ? 1 : 2;
}

// Writes the unlock word to `slave`; the outcome is not reported.
void WriteUnlockWord(int slave);
