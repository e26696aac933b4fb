// Object access in text form and the bridges' motor text channel. Every SDO here
// runs with complete access off and a 700 ms timeout, and blocks the calling
// thread until it ends. A slave that the supervision holds lost (SlaveIsLost) is
// not asked: its reads and writes end at once as ones that timed out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int kSdoTimeoutUs = 700000;
inline constexpr int kSdoMaxUpload = 127;  // bytes an upload may fill

// Objects of the motor text channel; add the motor number 1..4.
inline constexpr uint16_t ObjMotorCommand = 0xF580;   // :00 one TQL line, no terminator
inline constexpr uint16_t ObjMotorResponse = 0xF590;  // :00 next queued reply (VISIBLE_STRING)
inline constexpr uint16_t ObjUartChannel = 0xF510;    // :02 serial speed code (4 bytes)
inline constexpr uint8_t kUartSpeedSubindex = 2;
// Only the motors of the first 16 bridges are drained and checked online.
inline constexpr int kMaxQueriedBridges = 16;
// g_bridgeCount, at most kMaxQueriedBridges.
int QueriedBridgeCount();

// What a window shows in place of a value when an access failed and the master
// library recorded no error for it (a timeout, a slave without a mailbox).
inline constexpr char kSlaveNoAnswerText[] = "Slave does not answer";

// CoE data-type codes that the program's own callers use.
inline constexpr uint16_t kCoeInteger8 = 2;
inline constexpr uint16_t kCoeInteger16 = 3;
inline constexpr uint16_t kCoeInteger32 = 4;
inline constexpr uint16_t kCoeVisibleString = 9;

// Reads an object by SDO and formats it by its CoE data-type code ("0x%4.4x (%d)"
// for INTEGER16, the string itself for VISIBLE_STRING, "Unknown type" for codes
// without a text form ...). A read reports only what its own transfer did: an
// upload that took place gives its value; a failed one the library's text
// ("Time:...") of the last entry it left for this slave, if any. Entries on the
// library's error list from before the read (other accesses, emergencies) are
// dropped, never reported. Calls from all threads are serialised; the text
// returned is the caller's own copy.
std::string SdoReadAsText(uint16_t slave, uint16_t index, uint8_t subindex, uint16_t dataType);

// The text of SdoReadAsText, and whether an upload took place: false when the
// library reported an error (the text is then its error text) or gave no data at
// all, as for a slave without a mailbox (the text then shows the empty buffer,
// which the caller should not present as the object's value).
struct SdoText {
    bool uploaded;
    std::string text;
    bool errorText = false;  // `text` is the library's error text
};
SdoText SdoReadText(uint16_t slave, uint16_t index, uint8_t subindex, uint16_t dataType);

// What a window shows for a read: the value when one was uploaded; else the
// library's error text, or kSlaveNoAnswerText when it recorded none. Never the
// empty buffer as if it were the object's value.
std::string SdoShownText(const SdoText& read);

// Formats uploaded bytes by a CoE data-type code, as SdoReadAsText does; the size
// counts only for OCTET_STRING. Bounded to 1023 characters.
std::string FormatSdoData(const uint8_t* data, int size, uint16_t dataType);

// Writes `size` bytes by SDO and returns its outcome: the empty text when the
// slave took them; else the library's error text for the refusal, or
// kSlaveNoAnswerText when it recorded none. Like a read, it takes off the
// library's error list what was there before and what it left itself, so that
// no other access reports them as its own failure. Callers that do not show the
// outcome may ignore it.
std::string SdoWriteBytes(uint16_t slave, uint16_t index, uint8_t subindex, uint16_t size,
                          const void* data);

// Writes a numeric value as every numeric object is written: 4 bytes,
// little-endian, whatever the object's width; the outcome as SdoWriteBytes.
std::string SdoWriteInt32(uint16_t slave, uint16_t index, uint8_t subindex, int32_t value);

// The text between the first '(' and the next ')' within the first 25 characters
// of an upload's text, where the numeric forms put the decimal value ("0x000a
// (10)"). False for a text beginning with 'N' (no data) or without both marks.
bool TakeParenthesisedValue(std::string_view reply, std::string* value);
// The same, read as a decimal number (see ReadLeadingInteger).
bool ReadParenthesisedNumber(std::string_view reply, int32_t* value);

// Reads subindex 0 of `index` as INTEGER16. Returns 2 with the value, or -1 with
// the value 0 when the text holds no number in parentheses among its first 25
// characters.
int ReadObjectInt16(uint16_t slave, uint16_t index, int16_t* value);

// Downloads `line` as it is (no terminator) to ObjMotorCommand + motor; no checks.
// The TQL page and the online check use it with their own length rules. Returns
// the outcome as SdoWriteBytes does (empty when the bridge took the line).
std::string WriteMotorCommand(uint16_t slave, int motor, std::string_view line);

// Takes the next reply of motor 1..4 off its queue (ObjMotorResponse + motor), as
// SdoReadAsText gives it.
std::string ReadMotorResponse(uint16_t slave, int motor);

// Sends one TQL line to motor 1..4 of a bridge. Returns 0 written; -1 the slave is
// not a bridge of the table; -2 motor outside 1..4; -3 line length outside 2..60.
// A failed check accesses no device.
int SendTqlLine(int slave, int motor, const char* line);

// Writes a channel's serial speed code (0 = 38400 bit/s, 6 = 170 kbit/s, 3).
// Returns 0 written; -1 not a bridge; -2 motor outside 1..4.
int SetBridgeUartSpeed(int slave, int motor, uint32_t speedCode);

// Reads every motor's reply object of the first 16 bridges until it reports
// nothing pending ('N'), a read fails or brings nothing, at most 32 replies a
// motor. Reads of other threads may run between its reads.
void DrainMotorReplies();

// Asks every motor of the first 16 bridges "?99.1", sets g_motorOnline for those
// that answer "Ux" and appends one line per bridge to g_strScanLog.
void CheckMotorsOnline();
