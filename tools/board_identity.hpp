// A bridge's identity, set by the board initialisation dialog: its serial
// number, its board type (ZR01, ZR02, ZR12) and the motor kind of each channel
// that follows from the type; read back for the user to see.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

// The slave of the last set procedure.
extern std::atomic<int32_t> g_boardInitSlave;

inline constexpr int kBoardTypeCount = 3;  // type index 0 ZR01, 1 ZR02, 2 ZR12

// The BoardInitSet button: on `slave`, when it is a bridge, writes the unlock
// word, the serial number read from `serialText` (3 to 30 characters beginning
// with a decimal number that fits 32 bits), board type index + 1 and the four
// motor kinds, then reads type and serial number back. Returns what to show:
// the read-back (a read that uploaded nothing shows the master library's error
// text, or that the slave did not answer, never a number), or the refusal of a
// bad serial text or board type (nothing was written then). A slave that is no
// bridge does nothing and returns the empty text.
std::wstring SetBoardIdentity(int slave, std::wstring_view serialText, int typeIndex);

// Puts g_boardInitSlave back to its program-load value (tests).
void ResetBoardIdentity();
