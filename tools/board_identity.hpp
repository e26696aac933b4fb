// A bridge's identity, set by the board initialisation dialog: its serial
// number, its board type (ZR01, ZR02, ZR12) and the motor kind of each channel
// that follows from the type; read back for the user to see.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

// The slave of the last set procedure.
extern std::atomic<int32_t> g_boardInitSlave;

inline constexpr int kBoardTypeCount = 3;  // type index 0 ZR01, 1 ZR02, 2 ZR12

// The BoardInitSet button: on `slave`, when it is a bridge, writes the unlock
// word, the serial number read from `serialText` (3 to 30 characters beginning
// with a decimal number that fits 32 bits), board type index + 1 and the four
// motor kinds, then shows type and serial number as read back. A slave that is
// no bridge does nothing; a bad serial text or board type is refused with a
// message before anything is written.
void SetBoardIdentity(int slave, std::wstring_view serialText, int typeIndex);

// Puts g_boardInitSlave back to its program-load value (tests).
void ResetBoardIdentity();
