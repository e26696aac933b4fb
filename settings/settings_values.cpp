#include "settings/settings_values.hpp"

SharedText g_lanName;
std::atomic<int32_t> g_accessLevel{kDefaultAccessLevel};
std::atomic<int32_t> g_slaveCount{kDefaultSlaveCount};
std::atomic<int32_t> g_cia402Pos{kDefaultCia402Pos};
std::atomic<int32_t> g_cia402Speed{kDefaultCia402Speed};
std::atomic<int32_t> g_cia402Accel{kDefaultCia402Accel};
std::atomic<int32_t> g_rxTxPdoModeless{kDefaultRxTxPdoModeless};
std::atomic<int32_t> g_tqlSendAfterClear{kDefaultTqlSendAfterClear};
std::atomic<int32_t> g_selectLan{kDefaultSelectLan};

void ResetSettingsToDefaults() {
    g_lanName.set("");
    g_accessLevel = kDefaultAccessLevel;
    g_slaveCount = kDefaultSlaveCount;
    g_cia402Pos = kDefaultCia402Pos;
    g_cia402Speed = kDefaultCia402Speed;
    g_cia402Accel = kDefaultCia402Accel;
    g_rxTxPdoModeless = kDefaultRxTxPdoModeless;
    g_tqlSendAfterClear = kDefaultTqlSendAfterClear;
    g_selectLan = kDefaultSelectLan;
}

void KeepSettingsInRange() {
    const int32_t count = g_slaveCount.load();
    if (count < kMinSlaveCount) g_slaveCount = kMinSlaveCount;
    if (count > kMaxSlaveCount) g_slaveCount = kMaxSlaveCount;
    if (g_cia402Accel.load() == 0) g_cia402Accel = 1;  // its users divide by it
}
