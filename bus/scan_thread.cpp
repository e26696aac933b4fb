#include "bus/scan_thread.hpp"

#include <chrono>
#include <cstring>
#include <string>

#include "bus/adapter_choice.hpp"
#include "bus/bridge_board.hpp"
#include "bus/bus_stop.hpp"
#include "bus/format_text.hpp"
#include "bus/globals.hpp"
#include "bus/process_image.hpp"
#include "bus/sdo_text.hpp"
#include "ecmaster/extras.hpp"
#include "ethercat.h"
#include "platform/latin1.hpp"
#include "platform/message_box.hpp"
#include "settings/settings_values.hpp"

char g_ifName[kIfNameBytes];

namespace {

constexpr int kRequestPollMs = 25;
constexpr int kRetryPauseMs = 500;
constexpr int kRetriesPerBox = 20;
constexpr int kSafeOpTimeoutUs = 8000000;
constexpr int kOpCheckTimeoutUs = 50000;  // also the slice of the SAFE-OP wait
constexpr int kOpChecks = 41;
constexpr int kFirstUnrecordedSlave = 32;  // only slaves 1..31 can become bridges
constexpr size_t kNameField = 119;         // device name and software version
constexpr size_t kNumberField = 29;        // vendor-ID and serial-number texts
constexpr size_t kBridgeNameLength = 15;
constexpr int32_t kAccelerationBase = 0x05B2D7E1;

std::atomic<EepromJob> eepromReadJob{nullptr};
std::atomic<EepromJob> eepromWriteJob{nullptr};

enum class Outcome { NoAdapter, Retry, NotOperational, Operational, Stopped };

struct Attempt {
    Outcome outcome;
    std::string retryLine;  // the log line of a no-slave or too-few-slaves failure
};

void Log(const std::string& line) {
    g_strScanLog.appendBytes(line);
}

void ShowBox(const std::string& text) {
    ShowMessageBox(Latin1ToWide(text));
}

bool WaitForScanRequest() {
    while (g_scanRequest.load() != 1) {
        if (BusThreadsStopping()) return false;
        BusSleep(kRequestPollMs);
    }
    return !BusThreadsStopping();
}

void CopyBounded(char* dest, size_t size, std::string_view text) {
    const size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

// Fixes the interface name once per start of the threads: the first Ethernet
// adapter unless the user chooses, else the LAN name of the settings.
void ComposeInterfaceName() {
    char guid[kIfNameBytes] = {};
    if (g_selectLan.load() == 0 && PickFirstEthernetAdapter(guid, sizeof guid) == 1) {
        CopyBounded(g_ifName, sizeof g_ifName, std::string(kCaptureDevicePrefix) + guid);
        g_lanName.set(g_ifName);  // cut to its 127 bytes should a name ever be longer
    } else {
        CopyBounded(g_ifName, sizeof g_ifName, g_lanName.get());
    }
}

std::string ReadText(uint16_t slave, uint16_t index, uint8_t subindex, uint16_t type,
                     size_t field) {
    return SdoReadAsText(slave, index, subindex, type).substr(0, field);
}

// "S[%d]:name; vID:0x........ ; Soft:version; sNo:serial\r\n"
std::string IdentityLine(uint16_t slave) {
    std::string line = FormatText("S[%d]:", int{slave});
    line += ReadText(slave, 0x1008, 0, kCoeVisibleString, kNameField);
    const std::string vendor = ReadText(slave, 0x1018, 1, kCoeInteger32, kNumberField);
    line += "; vID:" + vendor.substr(0, std::min<size_t>(vendor.find('('), 20));
    line += "; Soft:" + ReadText(slave, 0x100A, 0, kCoeVisibleString, kNameField);
    const std::string serial = ReadText(slave, 0x1018, 4, kCoeInteger32, kNumberField);
    const size_t open = serial.substr(0, 20).find('(');
    const std::string digits =
        serial.substr(std::min(open == std::string::npos ? 20 : open + 1, serial.size()));
    line += "; sNo:" + digits.substr(0, digits.find(')')) + "\r\n";
    return line;
}

int32_t BridgeModel(uint16_t slave) {
    const std::string name = ReadText(slave, 0x1008, 0, kCoeVisibleString, kBridgeNameLength);
    if (name == "Torvanelix ZR01") return kModelZr01;
    if (name == "Torvanelix ZR02") return kModelZr02;
    if (name == "Torvanelix ZR12") return kModelZr12;
    return 0;
}

void RecordBridge(int32_t model, int slave, uint32_t outOffset, uint32_t inOffset) {
    const int k = g_bridgeCount.load();
    if (k >= kBridgeRows) return;
    g_bridgeModel[k] = model;
    g_bridgeSlave[k] = slave;
    g_bridgeOutOffset[k] = outOffset;
    g_bridgeInOffset[k] = inOffset;
    g_bridgeCount.store(k + 1, std::memory_order_release);
    WriteAccelerationWord(slave, g_cia402Accel.load());
}

// Logs the first `expected` slaves and records the bridges among them with their
// offsets in the process image.
void IdentifySlaves(int expected) {
    g_bridgeCount = 0;
    uint32_t outOffset = 0;
    uint32_t inOffset = 0;
    for (int s = 1; s <= expected && s < EC_MAXSLAVE && !BusThreadsStopping(); ++s) {
        const auto slave = static_cast<uint16_t>(s);
        Log(IdentityLine(slave));
        if (s >= kFirstUnrecordedSlave) continue;
        const int32_t model = BridgeModel(slave);
        if (model != 0) RecordBridge(model, s, outOffset, inOffset);
        outOffset += ec_slave[s].Obits / 8u;
        inOffset += ec_slave[s].Ibits / 8u;
    }
}

// Mapping and the clock set-up rewrite the group record that the exchange reads:
// the process-data thread waits meanwhile.
void MapProcessImage() {
    int size = 0;
    {
        auto lock = LockProcessImage();
        size = ec_config_map_checked(g_ioMap, sizeof g_ioMap);
        SetMappedAreaSizes(size > 0 ? ec_slave[0].Obytes : 0, size > 0 ? ec_slave[0].Ibytes : 0);
    }
    if (size < 4) ShowBox("Error! at IoConfig, Exit Program.");
}

void ConfigureDistributedClocks() {
    bool hasDc = false;
    {
        auto lock = LockProcessImage();
        hasDc = ec_configdc();
    }
    if (!hasDc) ShowBox("Error at ConfigDc, Exit Program.");
}

// Waits for SAFE-OP as one check of kSafeOpTimeoutUs would, in short checks, so
// that a stop of the threads is not held up for the rest of it.
void AwaitSafeOp() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::microseconds(kSafeOpTimeoutUs);
    while (!BusThreadsStopping()) {
        if (ec_statecheck(0, EC_STATE_SAFE_OP, kOpCheckTimeoutUs) == EC_STATE_SAFE_OP) return;
        if (std::chrono::steady_clock::now() >= deadline) return;
    }
}

bool ReachOperational() {
    g_expectedWkc = 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC;
    ec_slave[0].state = EC_STATE_OPERATIONAL;
    ExchangeProcessData();
    ec_writestate(0);
    for (int i = 0; i < kOpChecks && !BusThreadsStopping(); ++i) {
        ec_statecheck(0, EC_STATE_OPERATIONAL, kOpCheckTimeoutUs);
        if (ec_slave[0].state == EC_STATE_OPERATIONAL) break;
    }
    return ec_slave[0].state == EC_STATE_OPERATIONAL;
}

void LogSlavesNotOperational() {
    Log("Not all slaves reached operational state.\r\n");
    ec_readstate();
    for (int s = 1; s <= ec_slavecount; ++s) {
        if (ec_slave[s].state == EC_STATE_OPERATIONAL) continue;
        Log(FormatText("Slave %d State=0x%2.2x StatusCode=0x%4.4x : %s\r\n", s,
                       unsigned{ec_slave[s].state}, unsigned{ec_slave[s].ALstatuscode},
                       ec_ALstatuscode2string(ec_slave[s].ALstatuscode)));
    }
}

Attempt RunAttempt() {
    // One count for the whole attempt: the page may change it meanwhile, and only
    // slaves that the check below saw on the bus may be identified.
    const int expected = g_slaveCount.load();
    int opened = 0;
    int found = 0;
    {
        // The process-data thread exchanges all the time; keep it off the master
        // while the bus is opened and enumerated.
        auto lock = LockProcessImage();
        // The master forgets its slaves here, and their lost marks with them.
        ClearLostSlaves();
        opened = ec_init(g_ifName);
        if (opened != 0) {
            found = ec_config_init(FALSE);
            g_slavesFound = ec_slavecount;
        }
    }
    if (opened == 0) {
        Log(FormatText("No socket connection on %s\r\nExcecute as root\r\n", g_ifName));
        ShowBox("Lan EtherNet Interface Name??");
        return {Outcome::NoAdapter, {}};
    }
    if (found <= 0) {
        const std::string line = "Device Not found!\r\n";
        Log(line);
        return {Outcome::Retry, line};
    }
    if (ec_slavecount < expected) {
        g_strScanLog.clear();
        const std::string line =
            FormatText("Device Not found ( %d ) Slave at  configured.\r\n", expected);
        Log(line);
        return {Outcome::Retry, line};
    }
    g_strScanLog.clear();
    Log(FormatText("( %d ) slaves Device found\r\n", ec_slavecount));
    MapProcessImage();
    ConfigureDistributedClocks();
    AwaitSafeOp();
    IdentifySlaves(expected);
    if (BusThreadsStopping()) return {Outcome::Stopped, {}};
    const bool operational = ReachOperational();
    BusSleep(20);
    CheckMotorsOnline();
    g_busReady = 1;
    if (operational) {
        g_inOp = 1;
        return {Outcome::Operational, {}};
    }
    LogSlavesNotOperational();
    return {Outcome::NotOperational, {}};
}

void RetryAfter(const std::string& line) {
    g_scanRequest = 1;
    BusSleep(kRetryPauseMs);
    if (g_scanRetry.fetch_add(1) + 1 < kRetriesPerBox) return;
    ShowBox(line + "Slave Power On,  After Scan Please ");
    g_scanRetry = 0;
    g_strScanLog.clear();
}

void RunEepromJob(std::atomic<EepromJob>& job) {
    if (EepromJob run = job.load()) {
        run();
    } else {
        g_eepromRequest = 0;
    }
}

// After OP: packs and unpacks the image once per new exchange with a full
// working counter.
void ServiceProcessImage() {
    while (!BusThreadsStopping()) {
        if (g_wkc.load() >= g_expectedWkc.load() && g_busPause.load() == 0) {
            const int32_t cycle = g_cycleCount.load();
            if (cycle != g_lastPackedCycle.load()) {
                g_lastPackedCycle = cycle;
                auto lock = LockProcessImage();
                PackBridgeOutputs(ec_slave[0].outputs);
                UnpackBridgeInputs(ec_slave[0].inputs);
            }
            const int32_t request = g_eepromRequest.load();
            if (request == 1) RunEepromJob(eepromReadJob);
            if (request == 2) RunEepromJob(eepromWriteJob);
        }
        BusSleep(1);
    }
}

}  // namespace

int32_t AccelerationWord(int32_t accel) {
    // Only 0 has no quotient; a negative A lowers the word, as the division gives.
    return kAccelerationBase + 10000 / (accel == 0 ? 1 : accel);
}

void WriteAccelerationWord(int slave, int32_t accel) {
    SdoWriteInt32(static_cast<uint16_t>(slave), ObjBoardCommand, kAccelerationSubindex,
                  AccelerationWord(accel));
}

void InstallEepromJobs(EepromJob readToFile, EepromJob writeFromFile) {
    eepromReadJob = readToFile;
    eepromWriteJob = writeFromFile;
}

void ScanThread() {
    g_inOp = 0;
    BusSleep(kRequestPollMs);
    while (g_scanRequest.load() != 1) {
        if (BusThreadsStopping()) return;
        if (g_lanScanState.load() == 1) ListEthernetAdapters();
        BusSleep(kRequestPollMs);
    }
    ComposeInterfaceName();
    while (WaitForScanRequest()) {
        const Attempt attempt = RunAttempt();
        switch (attempt.outcome) {
            case Outcome::NoAdapter:
            case Outcome::NotOperational:
                g_scanRequest = 0;
                break;
            case Outcome::Retry:
                RetryAfter(attempt.retryLine);
                break;
            case Outcome::Operational:
                ServiceProcessImage();
                return;
            case Outcome::Stopped:
                return;
        }
    }
}

void ResetScanThreadState() {
    std::memset(g_ifName, 0, sizeof g_ifName);
}
