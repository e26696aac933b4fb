#include "bus/supervision.hpp"

#include <array>
#include <chrono>

#include "bus/bus_stop.hpp"
#include "bus/format_text.hpp"
#include "bus/globals.hpp"
#include "bus/little_endian.hpp"
#include "ethercat.h"

namespace {

constexpr int kLoopPauseMs = 20;
constexpr int kRestartStepPauseMs = 200;
constexpr int kAcksBeforeRestart = 20;
constexpr int kReconfigTimeoutUs = 500;
constexpr int kRecoverTimeoutUs = 500;
constexpr int kStateCheckTimeoutUs = 2000;
constexpr size_t kLineBytes = 196;
// A slave's state checks whose frames did not come back, in a row and over a
// while, before it counts as lost: a busy machine misses a frame or a few, a
// cable pulled at the master loses them all for good.
constexpr int kSilentChecksBeforeLost = 5;
constexpr std::chrono::milliseconds kSilenceBeforeLost(1000);

// Per slave: the state checks in a row whose frames did not come back, and when
// the first of them was. Only the supervision thread touches it.
struct Silence {
    int checks = 0;
    std::chrono::steady_clock::time_point since;
};
std::array<Silence, EC_MAXSLAVE> silence;

void Log(const char* format, int number) {
    g_strSuperviseLog.appendBytes(FormatText<kLineBytes>(format, number));
}

// The master's lost mark and the tool's, which device work of every thread
// reads, always together.
void MarkLost(uint16_t s, bool lost) {
    ec_slave[s].islost = lost ? TRUE : FALSE;
    SetSlaveLost(s, lost);
}

void RequestState(uint16_t slave, uint16_t state) {
    ec_slave[slave].state = state;
    ec_writestate(slave);
}

// Whether a slave whose state check read nothing is gone, by one more read of
// its status. A frame that comes back without the slave's answer shows it is
// (powered off, or cut off behind another slave): at once. A frame that does
// not come back at all shows nothing of the slave, as a busy machine may answer
// it late; only when that goes on for kSilentChecksBeforeLost checks in a row
// and kSilenceBeforeLost (a cable pulled at the master) is the slave gone.
bool Gone(uint16_t s) {
    ec_slavet& slave = ec_slave[s];
    uint8_t status[6] = {};
    const int wkc = ec_FPRD(slave.configadr, ECT_REG_ALSTAT, sizeof status, status, EC_TIMEOUTRET);
    Silence& silent = silence[s];
    if (wkc > 0) {  // it answers after all; the next pass acts on its state
        slave.state = ReadLittleEndian<uint16_t>(status);
        slave.ALstatuscode = ReadLittleEndian<uint16_t>(status + 4);
    }
    if (wkc >= 0) {
        silent = {};
        return wkc == 0;
    }
    const auto now = BusNow();
    if (silent.checks++ == 0) silent.since = now;
    if (silent.checks < kSilentChecksBeforeLost || now - silent.since < kSilenceBeforeLost) {
        return false;
    }
    silent = {};
    return true;
}

// A slave of group 0 that is not in OP: acknowledge, ask for OP, reconfigure, or
// find out whether it is lost.
void BringBack(uint16_t s) {
    ec_slavet& slave = ec_slave[s];
    if (slave.state == EC_STATE_SAFE_OP + EC_STATE_ERROR) {
        Log("ERROR[1] : Slave(%d) is in SAFE_OP & ERROR, Attempting Ack\r\n", s);
        RequestState(s, EC_STATE_SAFE_OP + EC_STATE_ACK);
        g_ackCount.fetch_add(1);
    } else if (slave.state == EC_STATE_SAFE_OP) {
        Log("WARNING[1] : Slave(%d) is in SAFE_OP, change to OPERATIONAL\r\n", s);
        RequestState(s, EC_STATE_OPERATIONAL);
    } else if (slave.state > EC_STATE_NONE) {
        // The library returns the last state it saw: a slave that stopped short of
        // SAFE-OP was not reconfigured, and the next pass tries again.
        if (ec_reconfig_slave(s, kReconfigTimeoutUs) == EC_STATE_SAFE_OP) {
            MarkLost(s, false);
            Log("MESSAGE[1] : Slave(%d) reconfigured\r\n", s);
        }
    } else if (!slave.islost) {
        ec_statecheck(s, EC_STATE_OPERATIONAL, kStateCheckTimeoutUs);
        if (slave.state == EC_STATE_NONE && Gone(s)) {
            MarkLost(s, true);
            Log("ERROR[2] : Slave(%d) TimeOut(lost)\r\n", s);
        }
    }
}

void ResolveLost(uint16_t s) {
    ec_slavet& slave = ec_slave[s];
    if (!slave.islost) return;
    if (slave.state == EC_STATE_NONE) {
        if (ec_recover_slave(s, kRecoverTimeoutUs)) {
            MarkLost(s, false);
            Log("MESSAGE[2] : Slave(%d) recovered\r\n", s);
        }
    } else {
        MarkLost(s, false);
        Log("MESSAGE[3] : Slave(%d) found\r\n", s);
    }
}

// Every slave ORs its AL status into one broadcast read: anything but OP
// without the error flag shows that some slave needs the pass. A slave in
// SAFE-OP may keep the working counter full, so the counter alone misses it.
bool SegmentNotPlainOp() {
    uint8_t status[2] = {0, 0};
    if (ec_BRD(0x0000, ECT_REG_ALSTAT, sizeof status, status, EC_TIMEOUTRET) <= 0) return false;
    constexpr uint16_t kStateBits = 0x000F;
    const uint16_t stateAndError =
        ReadLittleEndian<uint16_t>(status) & (kStateBits | EC_STATE_ERROR);
    return stateAndError != EC_STATE_OPERATIONAL;
}

bool CheckDue() {
    if (g_busPause.load() != 0 || g_inOp.load() == 0) return false;
    return g_wkc.load() < g_expectedWkc.load() || ec_group[0].docheckstate || SegmentNotPlainOp();
}

// INIT, SAFE-OP and OP for all slaves; the passes that follow supervise the outcome.
void RestartAll() {
    g_ackCount = 0;
    for (uint16_t state : {EC_STATE_INIT, EC_STATE_SAFE_OP, EC_STATE_OPERATIONAL}) {
        RequestState(0, state);
        BusSleep(kRestartStepPauseMs);
    }
    Log("ERROR[3] :All Init-->SafeOp-->OP(%d)\r\n", g_fullRestartCount.fetch_add(1) + 1);
}

// One check pass over all slaves.
void SuperviseSlaves() {
    ec_group[0].docheckstate = FALSE;
    ec_readstate();
    for (int s = 1; s <= ec_slavecount && s < EC_MAXSLAVE; ++s) {
        const auto slave = static_cast<uint16_t>(s);
        if (ec_slave[s].group == 0 && ec_slave[s].state != EC_STATE_OPERATIONAL) {
            ec_group[0].docheckstate = TRUE;
            BringBack(slave);
        }
        if (ec_slave[s].state != EC_STATE_NONE) silence[s] = {};  // it answered
        ResolveLost(slave);
    }
}

}  // namespace

void SupervisionThread() {
    silence = {};
    while (!BusThreadsStopping()) {
        // A pass not due finds every slave answering: no silence goes on.
        if (CheckDue()) {
            SuperviseSlaves();
        } else {
            silence = {};
        }
        BusSleep(kLoopPauseMs);
        if (g_ackCount.load() >= kAcksBeforeRestart && !BusThreadsStopping()) RestartAll();
    }
}
