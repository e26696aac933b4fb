// The nine settings values and their file "SetDataFile.set" in the working
// directory: read once at start, written at Quit.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "bus/shared_text.hpp"

inline constexpr char kSettingsFileName[] = "SetDataFile.set";

extern SharedText g_lanName;                      // line 1: interface name, at most 127 bytes
extern std::atomic<int32_t> g_accessLevel;        // line 2: 9617 service, 9751 maker
extern std::atomic<int32_t> g_slaveCount;         // line 3: slaves expected, 1..32
extern std::atomic<int32_t> g_cia402Pos;          // line 4
extern std::atomic<int32_t> g_cia402Speed;        // line 5
extern std::atomic<int32_t> g_cia402Accel;        // line 6: at least 1
extern std::atomic<int32_t> g_rxTxPdoModeless;    // line 7
extern std::atomic<int32_t> g_tqlSendAfterClear;  // line 8
extern std::atomic<int32_t> g_selectLan;          // line 9: 1 = adapter chosen by hand

inline constexpr int32_t kMinSlaveCount = 1;
inline constexpr int32_t kMaxSlaveCount = 32;

// Reads "SetDataFile.set" into the nine values; reports failures in a message box
// and keeps the values read so far and the defaults for the rest.
void LoadSettingsFile();
// Writes the nine values to "SetDataFile.set"; "File Write Open Error" when it
// can't be opened.
void SaveSettingsFile();

// The same on another path (tests).
void LoadSettingsFileFrom(const std::string& path);
void SaveSettingsFileTo(const std::string& path);

// Puts the nine values back to their defaults.
void ResetSettingsToDefaults();

// Reads a signed decimal integer from the start of `text` as the settings file and
// the count field do: leading blanks skipped, an optional sign, digits up to the
// first other character. False when there is no number or it does not fit 32 bits.
bool ReadLeadingInteger(std::string_view text, int32_t* value);
