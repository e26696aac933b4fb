// The nine settings values of the run, in the order of their lines in the
// settings file, with their defaults: used until the file is read, and for every
// line the file does not give.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/shared_text.hpp"

inline constexpr int32_t kDefaultAccessLevel = 0;
inline constexpr int32_t kDefaultSlaveCount = 1;
inline constexpr int32_t kDefaultCia402Pos = 2500;
inline constexpr int32_t kDefaultCia402Speed = 60;
inline constexpr int32_t kDefaultCia402Accel = 1000;
inline constexpr int32_t kDefaultRxTxPdoModeless = 0;
inline constexpr int32_t kDefaultTqlSendAfterClear = 1;
inline constexpr int32_t kDefaultSelectLan = 0;

inline constexpr int32_t kMinSlaveCount = 1;
inline constexpr int32_t kMaxSlaveCount = 32;

extern SharedText g_lanName;                      // line 1: interface name, at most 127 bytes
extern std::atomic<int32_t> g_accessLevel;        // line 2: 9617 service, 9751 maker
extern std::atomic<int32_t> g_slaveCount;         // line 3: slaves expected, 1..32
extern std::atomic<int32_t> g_cia402Pos;          // line 4
extern std::atomic<int32_t> g_cia402Speed;        // line 5
extern std::atomic<int32_t> g_cia402Accel;        // line 6: never 0
extern std::atomic<int32_t> g_rxTxPdoModeless;    // line 7
extern std::atomic<int32_t> g_tqlSendAfterClear;  // line 8
extern std::atomic<int32_t> g_selectLan;          // line 9: 1 = adapter chosen by hand

// Puts the nine values back to their defaults.
void ResetSettingsToDefaults();

// Brings the values that the rest of the program divides by or counts with into
// range: 1..32 slaves, an acceleration other than 0.
void KeepSettingsInRange();
