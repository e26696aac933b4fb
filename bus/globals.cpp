#include "bus/globals.hpp"

#include <cstddef>

#include "ethercat.h"

std::atomic<int32_t> g_bridgeCount{0};
std::atomic<int32_t> g_bridgeSlave[kBridgeRows]{};
std::atomic<int32_t> g_bridgeModel[kBridgeRows]{};
std::atomic<uint32_t> g_bridgeOutOffset[kBridgeRows]{};
std::atomic<uint32_t> g_bridgeInOffset[kBridgeRows]{};

std::atomic<uint16_t> g_ctrlWord[kMotorSlots]{};
std::atomic<int32_t> g_targetPos[kMotorSlots]{};
std::atomic<int32_t> g_movePos[kMotorSlots]{};
std::atomic<uint32_t> g_moveSpeed[kMotorSlots]{};
std::atomic<uint32_t> g_digOut[kMotorSlots]{};
std::atomic<uint32_t> g_statusWord[kMotorSlots]{};
std::atomic<int32_t> g_actualPos[kMotorSlots]{};
std::atomic<uint32_t> g_motorOnline[kMotorSlots]{};

std::atomic<int32_t> g_scanRequest{0};
std::atomic<int32_t> g_busPause{0};
std::atomic<int32_t> g_bridgeMode{0};
std::atomic<int32_t> g_moveStop{0};
std::atomic<int32_t> g_cpioReapply{0};
std::atomic<int32_t> g_lanPicked{0};
std::atomic<int32_t> g_eepromRequest{0};

std::atomic<int32_t> g_busReady{0};
std::atomic<uint8_t> g_inOp{0};
std::atomic<int32_t> g_slavesFound{0};
std::atomic<int32_t> g_scanRetry{0};
std::atomic<int32_t> g_expectedWkc{0};
std::atomic<int32_t> g_lastPackedCycle{0};

std::atomic<int32_t> g_wkc{0};
std::atomic<int32_t> g_cycleCount{0};

std::atomic<int32_t> g_ackCount{0};
std::atomic<int32_t> g_fullRestartCount{0};

TextLog g_strScanLog;
TextLog g_strSuperviseLog(kSuperviseLogLines);
TextLog g_strTqlLog;

namespace {

std::atomic<bool> slaveLost[EC_MAXSLAVE]{};

bool IsSlaveNumber(int slave) {
    return slave >= 1 && slave < EC_MAXSLAVE;
}

}  // namespace

bool SlaveIsLost(int slave) {
    return IsSlaveNumber(slave) && slaveLost[slave].load();
}

void SetSlaveLost(int slave, bool lost) {
    if (IsSlaveNumber(slave)) slaveLost[slave] = lost;
}

void ClearLostSlaves() {
    for (auto& lost : slaveLost) lost = false;
}

int BridgeOrdinalOfSlave(int slave) {
    const int count = g_bridgeCount.load();
    for (int b = 0; b < count && b < kBridgeRows; ++b) {
        if (g_bridgeSlave[b].load() == slave) return b;
    }
    return -1;
}

namespace {

std::atomic<uint32_t> rampStops{0};

template <typename T, size_t N>
void StoreAll(std::atomic<T> (&values)[N], T value) {
    for (auto& v : values) v = value;
}

}  // namespace

void StopPositionRamp() {
    g_moveStop = 1;
    ++rampStops;
}

uint32_t PositionRampStops() {
    return rampStops.load();
}

void ResetSharedBusState() {
    rampStops = 0;
    g_bridgeCount = 0;
    StoreAll(g_bridgeSlave, 0);
    StoreAll(g_bridgeModel, 0);
    StoreAll(g_bridgeOutOffset, 0u);
    StoreAll(g_bridgeInOffset, 0u);
    StoreAll(g_ctrlWord, uint16_t{0});
    StoreAll(g_targetPos, 0);
    StoreAll(g_movePos, 0);
    StoreAll(g_moveSpeed, 0u);
    StoreAll(g_digOut, 0u);
    StoreAll(g_statusWord, 0u);
    StoreAll(g_actualPos, 0);
    StoreAll(g_motorOnline, 0u);
    for (auto* flag :
         {&g_scanRequest, &g_busPause, &g_bridgeMode, &g_moveStop, &g_cpioReapply, &g_lanPicked,
          &g_eepromRequest, &g_busReady, &g_slavesFound, &g_scanRetry, &g_expectedWkc,
          &g_lastPackedCycle, &g_wkc, &g_cycleCount, &g_ackCount, &g_fullRestartCount}) {
        *flag = 0;
    }
    g_inOp = 0;
    ClearLostSlaves();
    g_strScanLog.clear();
    g_strSuperviseLog.clear();
    g_strTqlLog.clear();
}
