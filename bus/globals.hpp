// The state that the bus threads and the windows share. Every flag, counter and
// table cell is an atomic of its original width; a bridge-table entry is written
// before g_bridgeCount covers it (the count is stored with release and loaded with
// acquire by default ordering).
#pragma once

#include <atomic>
#include <cstdint>

#include "bus/text_log.hpp"

inline constexpr int kBridgeRows = 32;  // rows of the bridge table (31 usable)
inline constexpr int kMotorsPerBridge = 4;
inline constexpr int kMotorSlots = kBridgeRows * kMotorsPerBridge;  // 128

// Bridge models in g_bridgeModel.
inline constexpr int32_t kModelZr01 = 1;
inline constexpr int32_t kModelZr02 = 2;
inline constexpr int32_t kModelZr12 = 3;

// The main window's pages in tab order; g_bridgeMode holds the one shown, and the
// process image and the pages' timers act on it.
enum MainPage : int32_t {
    kConfigSlavePage = 0,
    kTqlPage = 1,
    kCia402Page = 2,
    kCoePage = 3,
};

// ---- bridge table, written only by the scan thread ----
extern std::atomic<int32_t> g_bridgeCount;
extern std::atomic<int32_t> g_bridgeSlave[kBridgeRows];
extern std::atomic<int32_t> g_bridgeModel[kBridgeRows];
extern std::atomic<uint32_t> g_bridgeOutOffset[kBridgeRows];
extern std::atomic<uint32_t> g_bridgeInOffset[kBridgeRows];

// ---- per-motor shadow arrays, index bridge ordinal * 4 + motor - 1 ----
extern std::atomic<uint16_t> g_ctrlWord[kMotorSlots];
extern std::atomic<int32_t> g_targetPos[kMotorSlots];
extern std::atomic<int32_t> g_movePos[kMotorSlots];
extern std::atomic<uint32_t> g_moveSpeed[kMotorSlots];
extern std::atomic<uint32_t> g_digOut[kMotorSlots];
extern std::atomic<uint32_t> g_statusWord[kMotorSlots];
extern std::atomic<int32_t> g_actualPos[kMotorSlots];
extern std::atomic<uint32_t> g_motorOnline[kMotorSlots];

// ---- flags of the windows ----
extern std::atomic<int32_t> g_scanRequest;    // Scan button: 1; the scan thread takes it
extern std::atomic<int32_t> g_busPause;       // both Quit commands: 1; the bus threads idle
extern std::atomic<int32_t> g_bridgeMode;     // the MainPage shown
extern std::atomic<int32_t> g_moveStop;       // freezes the position ramp
extern std::atomic<int32_t> g_cpioReapply;    // the CiA402 page applies its CPIO mode again
extern std::atomic<int32_t> g_lanPicked;      // an adapter was chosen in the adapter list
extern std::atomic<int32_t> g_eepromRequest;  // 1 read to file, 2 write from file

// ---- written by the scan thread ----
extern std::atomic<int32_t> g_busReady;  // 1 once a scan reached its OP request; never cleared
extern std::atomic<uint8_t> g_inOp;      // 1 once a scan reached OP
// The slaves the last scan attempt found: the master's count, published for the
// windows, which must not read the master's own word while a scan writes it.
extern std::atomic<int32_t> g_slavesFound;
extern std::atomic<int32_t> g_scanRetry;
extern std::atomic<int32_t> g_expectedWkc;
extern std::atomic<int32_t> g_lastPackedCycle;

// ---- written by the process-data thread ----
extern std::atomic<int32_t> g_wkc;
extern std::atomic<int32_t> g_cycleCount;

// ---- written by the supervision thread ----
extern std::atomic<int32_t> g_ackCount;
extern std::atomic<int32_t> g_fullRestartCount;

// ---- the slaves the supervision found lost ----
// True while the supervision holds `slave` (1-based, as the master numbers it)
// lost: set and cleared together with the master's own lost mark, cleared for
// every slave by a new scan. Device work for such a slave fails at once instead
// of waiting out its timeout. Safe from any thread; false for a number the
// master cannot hold.
bool SlaveIsLost(int slave);
void SetSlaveLost(int slave, bool lost);
void ClearLostSlaves();

// ---- logs ----
// The supervision log keeps its newest 1000 lines (about 60 KB, half a minute
// of a slave whose watchdog keeps tripping, which writes dozens of lines a
// second for as long as it does): neither the memory nor the page that shows
// the log may grow with the length of the run. Older lines are dropped whole.
inline constexpr size_t kSuperviseLogLines = 1000;
extern TextLog g_strScanLog;       // scan thread and the online check
extern TextLog g_strSuperviseLog;  // supervision thread and the EEPROM tools
extern TextLog g_strTqlLog;        // the TQL page

// Index of a motor (1..4) of bridge ordinal `bridge` in the shadow arrays.
constexpr int MotorSlot(int bridge, int motor) {
    return bridge * kMotorsPerBridge + motor - 1;
}

// The slave number of bridge ordinal `bridge` (0..kBridgeRows-1), as the master
// library addresses it.
inline uint16_t SlaveOfBridge(int bridge) {
    return static_cast<uint16_t>(g_bridgeSlave[bridge].load());
}

// The bridge ordinal of `slave`, or -1 when it is none of the first g_bridgeCount
// entries of the table.
int BridgeOrdinalOfSlave(int slave);

// STOP and the tab changes freeze the position ramp through this. Each call is
// counted, so that a hold made before it (the process-data dialog's) knows that
// releasing its own hold would now lift a stop it did not give.
void StopPositionRamp();
uint32_t PositionRampStops();

// Puts every value above back to its program-load value (tests, between runs of
// the bus threads; only while they are stopped).
void ResetSharedBusState();
