// The TQL page's traffic: command lines to one motor or all four, the sent log,
// and the reading of the motors' replies.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "bus/globals.hpp"

inline constexpr int kTqlCommandMaxChars = 30;          // a typed command holds 1 to 30 characters
inline constexpr int kTqlAllMotors = kMotorsPerBridge;  // motor index of "MotorID1-ID4"
inline constexpr int32_t kTqlReplyWrap = 1000;          // the response log starts again after this

// Replies shown in the response log since it last started again.
extern std::atomic<int32_t> g_tqlReplyLines;
// 1 once the TQL page's board list has been filled (once per run).
extern std::atomic<int32_t> g_tqlBoardComboFilled;

// "TQ[slave.motor]:text", bounded to 255 bytes as the page's log buffer is.
std::string TqlLogLine(int slave, int motor, std::string_view text);

// Appends "TQ[slave.motor]:text" and a line end to the sent log g_strTqlLog; a
// non-empty `failure` (the write's outcome) stands after the text in parentheses.
void LogSentTqlLine(int slave, int motor, std::string_view text, const std::string& failure);

// Downloads `text` to motor index 0..3 (ObjMotorCommand + index + 1), or to all
// four in order for kTqlAllMotors, and logs it once (motor number 0 for all
// four). The caller has checked that `slave` is a bridge.
void SendTqlCommand(int slave, int motorIndex, std::string_view text);

// Takes one reply of `motor` (1..4) off its queue. True with the text when it is
// a motor's reply; false for "nothing pending" ('N'), the master library's error
// text ("Ti...") and the empty text.
bool ReadMotorReply(int slave, int motor, std::string* text);

// Puts the TQL page's shared counters back to their program-load values (tests).
void ResetTqlCommandState();
