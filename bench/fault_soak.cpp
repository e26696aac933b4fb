// The master under faults for a given time (needs root: a private network
// namespace and raw sockets): zrsim serves a ZR12, an I/O terminal and a ZR02
// over a veth pair and loses a quarter of the frames, delays every frame,
// power-cycles a slave every 30 s and forces SAFE-OP errors, while the master
// exchanges process data every millisecond, a second thread reads and writes
// SDOs and checks every value read against the object's known value, and the
// tool's own supervision thread keeps the slaves in OP. Then the faults stop,
// the last of them a SAFE-OP error forced on every slave, and the soak measures
// how long the bus takes to be whole again.
//
// Usage: fault_soak [seconds of faults]   (default 60)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bus/bus_stop.hpp"
#include "bus/globals.hpp"
#include "bus/supervision.hpp"
#include "ecmaster/extras.hpp"
#include "ecsim/slave_kinds.hpp"
#include "ethercat.h"
#include "support/netns.hpp"
#include "support/wait_until.hpp"
#include "wire_bench.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr const char* kSlaves = "ZR12,IO,ZR02";
constexpr int kSlaveCount = 3;
constexpr uint16_t kBridges[] = {1, 3};
constexpr ecsim::SlaveKind kBridgeKinds[] = {ecsim::SlaveKind::ZR12, ecsim::SlaveKind::ZR02};

constexpr auto kCycle = std::chrono::microseconds(1000);
constexpr double kDropRate = 0.25;
constexpr int kDelaysUs[] = {100, 500, 1500};  // every frame, changing every 10 s
constexpr auto kDelayStep = seconds(10);
constexpr auto kPowerCycleEvery = seconds(30);
constexpr auto kPowerOffFor = seconds(2);
constexpr auto kSafeOpErrorEvery = seconds(5);
constexpr auto kRecoveryLimit = seconds(60);

// An object the SDO thread writes and reads back: a plain value of the bridge,
// back at its power-on value after a power cycle.
constexpr uint16_t kScratchIndex = 0xF550;
constexpr uint8_t kScratchSub = 4;

long RssKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

long OpenDescriptors() {
    std::error_code ec;
    long n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        ++n;
    }
    return n;
}

// ---- process data: every millisecond, as fast as the frames come back ----

struct CycleCounts {
    std::atomic<uint64_t> full{0};
    std::atomic<uint64_t> shortOnes{0};
    std::atomic<uint64_t> none{0};
    std::atomic<int> lastWkc{0};
};

void ProcessData(const std::atomic<bool>& stop, int expected, CycleCounts& counts) {
    auto next = Clock::now();
    while (!stop) {
        ec_send_processdata();
        const int wkc = ec_receive_processdata(EC_TIMEOUTRET);
        if (wkc == expected) {
            ++counts.full;
        } else if (wkc > 0) {
            ++counts.shortOnes;
        } else {
            ++counts.none;
        }
        counts.lastWkc = wkc;
        g_wkc = std::max(wkc, 0);  // what the tool's supervision looks at
        next += kCycle;
        const auto now = Clock::now();
        if (next < now) next = now;  // a late cycle does not make the next ones hurry
        std::this_thread::sleep_until(next);
    }
}

// ---- SDOs: reads of known values, writes read back ----

// The values an object may hold now. A write that failed may still have
// reached the slave, and a power cycle puts the object back to its power-on
// value, so more than one value can be right until a read settles it.
struct Known {
    std::set<uint32_t> allowed;
    unsigned powerCycles = 0;
};

struct SdoCounts {
    std::atomic<uint64_t> reads{0};
    std::atomic<uint64_t> writes{0};
    std::atomic<uint64_t> failed{0};
    std::atomic<uint64_t> wrong{0};
};

class SdoLoad {
  public:
    SdoLoad() = default;

    // Reads the serial numbers (which zrsim numbers by position) and the
    // scratch objects' power-on values before any fault.
    bool Prepare() {
        for (uint16_t slave : kBridges) {
            uint32_t v = 0;
            int size = sizeof v;
            if (ec_SDOread(slave, 0x1018, 4, FALSE, &size, &v, EC_TIMEOUTRXM) <= 0) return false;
            serial_[slave] = v;
            if (ec_SDOread(slave, kScratchIndex, kScratchSub, FALSE, &size, &v, EC_TIMEOUTRXM) <=
                0) {
                return false;
            }
            powerOn_[slave] = v;
            scratch_[slave].allowed = {v};
        }
        return true;
    }

    // Called before the slave at `position` is switched off.
    void PowerCycling(uint16_t position) {
        std::lock_guard lock(mutex_);
        if (!powerOn_.contains(position)) return;
        scratch_[position].allowed.insert(powerOn_[position]);
        ++scratch_[position].powerCycles;
    }

    void Run(const std::atomic<bool>& stop) {
        uint32_t value = 0x5A000000;
        for (unsigned round = 0; !stop; ++round) {
            for (size_t b = 0; b < std::size(kBridges) && !stop; ++b) {
                const uint16_t slave = kBridges[b];
                const ecsim::Identity id = ecsim::identityOf(kBridgeKinds[b]);
                ReadU32(slave, 0x1018, 1, id.vendor);
                ReadU32(slave, 0x1018, 4, serial_[slave]);
                ReadName(slave, ecsim::deviceName(kBridgeKinds[b]));
                WriteScratch(slave, ++value);
                ReadScratch(slave);
            }
        }
    }

    const SdoCounts& counts() const { return counts_; }
    std::vector<std::string> wrongValues() const {
        std::lock_guard lock(mutex_);
        return report_;
    }

  private:
    void Wrong(uint16_t slave, uint16_t index, uint8_t sub, const std::string& got,
               const std::string& expected) {
        ++counts_.wrong;
        std::lock_guard lock(mutex_);
        if (report_.size() < 10) {
            char line[160];
            std::snprintf(line, sizeof line, "slave %u 0x%04X:%02X read %s, expected %s", slave,
                          index, sub, got.c_str(), expected.c_str());
            report_.push_back(line);
        }
    }

    static std::string Hex(uint32_t v) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", v);
        return text;
    }

    void ReadU32(uint16_t slave, uint16_t index, uint8_t sub, uint32_t expected) {
        ++counts_.reads;
        uint32_t v = 0;
        int size = sizeof v;
        if (ec_SDOread(slave, index, sub, FALSE, &size, &v, EC_TIMEOUTRXM) <= 0) {
            ++counts_.failed;
        } else if (size != sizeof v || v != expected) {
            Wrong(slave, index, sub, Hex(v) + " (" + std::to_string(size) + " bytes)",
                  Hex(expected));
        }
    }

    void ReadName(uint16_t slave, const std::string& expected) {
        ++counts_.reads;
        char name[64] = {};
        int size = sizeof name;
        if (ec_SDOread(slave, 0x1008, 0, FALSE, &size, name, EC_TIMEOUTRXM) <= 0) {
            ++counts_.failed;
            return;
        }
        const std::string got(name, static_cast<size_t>(std::clamp(size, 0, 64)));
        if (got != expected) Wrong(slave, 0x1008, 0, "\"" + got + "\"", "\"" + expected + "\"");
    }

    void WriteScratch(uint16_t slave, uint32_t v) {
        ++counts_.writes;
        const bool ok =
            ec_SDOwrite(slave, kScratchIndex, kScratchSub, FALSE, sizeof v, &v, EC_TIMEOUTRXM) > 0;
        std::lock_guard lock(mutex_);
        Known& k = scratch_[slave];
        if (ok) {
            k.allowed = {v};
        } else {
            ++counts_.failed;
            k.allowed.insert(v);
        }
    }

    void ReadScratch(uint16_t slave) {
        ++counts_.reads;
        unsigned cyclesBefore = 0;
        {
            std::lock_guard lock(mutex_);
            cyclesBefore = scratch_[slave].powerCycles;
        }
        uint32_t v = 0;
        int size = sizeof v;
        if (ec_SDOread(slave, kScratchIndex, kScratchSub, FALSE, &size, &v, EC_TIMEOUTRXM) <= 0) {
            ++counts_.failed;
            return;
        }
        std::unique_lock lock(mutex_);
        Known& k = scratch_[slave];
        if (size == sizeof v && k.allowed.contains(v)) {
            // Settled, unless the slave was switched off while the read was under way.
            if (k.powerCycles == cyclesBefore) k.allowed = {v};
            return;
        }
        std::string expected;
        for (uint32_t a : k.allowed) expected += (expected.empty() ? "" : " or ") + Hex(a);
        lock.unlock();
        Wrong(slave, kScratchIndex, kScratchSub, Hex(v), expected);
    }

    mutable std::mutex mutex_;
    std::map<uint16_t, uint32_t> serial_;  // written before the thread starts
    std::map<uint16_t, uint32_t> powerOn_;
    std::map<uint16_t, Known> scratch_;
    std::vector<std::string> report_;
    SdoCounts counts_;
};

// ---- what the simulator says: the AL state of each slave ----

// The last state zrsim reported for each slave ("slave 2 (IO): PRE-OP -> OP").
std::map<int, std::string> ReportedStates(const testsupport::Zrsim& sim) {
    std::map<int, std::string> states;
    std::istringstream lines(sim.output());
    for (std::string line; std::getline(lines, line);) {
        int position = 0;
        if (std::sscanf(line.c_str(), "slave %d (", &position) != 1) continue;
        const size_t arrow = line.find(" -> ");
        if (arrow == std::string::npos) continue;
        std::string to = line.substr(arrow + 4);
        to = to.substr(0, to.find(' '));
        states[position] = to;
    }
    return states;
}

bool AllReportedInOp(const testsupport::Zrsim& sim) {
    const auto states = ReportedStates(sim);
    for (int p = 1; p <= kSlaveCount; ++p) {
        const auto it = states.find(p);
        if (it == states.end() || it->second != "OP") return false;
    }
    return true;
}

// ---- supervision: the tool's own thread, counted from its log ----

struct SupervisionCounts {
    int acks = 0, opRequests = 0, reconfigured = 0, recovered = 0, found = 0, lost = 0,
        restarts = 0;
};

SupervisionCounts CountSupervision() {
    const std::wstring log = g_strSuperviseLog.copy();
    auto count = [&log](const wchar_t* what) {
        int n = 0;
        for (size_t at = log.find(what); at != std::wstring::npos; at = log.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    return {count(L"Attempting Ack"),
            count(L"change to OPERATIONAL"),
            count(L"reconfigured"),
            count(L"recovered"),
            count(L") found"),
            count(L"TimeOut(lost)"),
            count(L"All Init-->SafeOp-->OP")};
}

// ---- the fault schedule ----

struct FaultCounts {
    int powerCycles = 0;
    int safeOpErrors = 0;
    int refused = 0;  // control commands zrsim did not take
};

void Control(testsupport::Zrsim& sim, const std::string& line, FaultCounts& counts) {
    if (sim.control(line) != "ok") ++counts.refused;
}

void RunFaults(testsupport::Zrsim& sim, SdoLoad& sdo, Clock::duration length, FaultCounts& counts) {
    const auto start = Clock::now();
    const auto end = start + length;
    Control(sim, "drop " + std::to_string(kDropRate), counts);
    size_t delayStep = 0;
    Control(sim, "delay " + std::to_string(kDelaysUs[0]), counts);
    auto nextDelay = start + kDelayStep;
    auto nextPowerCycle = start + kPowerCycleEvery / 2;
    auto nextError = start + kSafeOpErrorEvery;
    int powerPosition = 0;
    int errorPosition = 0;
    int off = 0;  // the slave now switched off, 0 = none
    auto powerOnAt = Clock::time_point::max();
    while (Clock::now() < end) {
        const auto now = Clock::now();
        if (now >= nextDelay) {
            delayStep = (delayStep + 1) % std::size(kDelaysUs);
            Control(sim, "delay " + std::to_string(kDelaysUs[delayStep]), counts);
            nextDelay += kDelayStep;
        }
        if (now >= nextPowerCycle && off == 0) {
            off = powerPosition % kSlaveCount + 1;
            ++powerPosition;
            sdo.PowerCycling(static_cast<uint16_t>(off));
            Control(sim, "power-off " + std::to_string(off), counts);
            ++counts.powerCycles;
            powerOnAt = now + kPowerOffFor;
            nextPowerCycle += kPowerCycleEvery;
        }
        if (off != 0 && now >= powerOnAt) {
            Control(sim, "power-on " + std::to_string(off), counts);
            off = 0;
        }
        if (now >= nextError) {
            const int position = errorPosition % kSlaveCount + 1;
            ++errorPosition;
            if (position != off) {
                Control(sim, "safeop-error " + std::to_string(position), counts);
                ++counts.safeOpErrors;
            }
            nextError += kSafeOpErrorEvery;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    Control(sim, "drop 0", counts);
    Control(sim, "delay 0", counts);
    if (off != 0) Control(sim, "power-on " + std::to_string(off), counts);
    // The last fault: every slave at once, so that the recovery has work to do.
    for (int position = 1; position <= kSlaveCount; ++position) {
        Control(sim, "safeop-error " + std::to_string(position), counts);
        ++counts.safeOpErrors;
    }
}

int Fail(const std::string& why) {
    std::printf("fault_soak: %s\n", why.c_str());
    ec_close();
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int faultSeconds = 60;
    if (argc > 1) {
        char* end = nullptr;
        const long s = std::strtol(argv[1], &end, 10);
        if (*end != '\0' || s < 1 || s > 24 * 3600) {
            std::printf("usage: fault_soak [seconds of faults, 1..86400]\n");
            return 2;
        }
        faultSeconds = static_cast<int>(s);
    }
    if (!bench::EnterZrsimTier("fault_soak")) return 0;
    testsupport::Zrsim sim(kSlaves);
    std::string error;
    if (!sim.start(&error)) return Fail("zrsim did not start: " + error);
    if (!testsupport::waitForSlaves(testsupport::PrivateNetwork::kMasterIf, kSlaveCount,
                                    seconds(10))) {
        return Fail("zrsim's slaves did not answer");
    }

    // Brought up as the tool's scan does: configured, mapped, SAFE-OP, then OP
    // with the process data running.
    static uint8_t ioMap[4096];
    if (ec_config_init(FALSE) != kSlaveCount) return Fail("ec_config_init did not find 3 slaves");
    if (ec_config_map_checked(ioMap, sizeof ioMap) <= 0) return Fail("ec_config_map failed");
    ec_configdc();
    if (ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE) != EC_STATE_SAFE_OP) {
        return Fail("the slaves did not reach SAFE-OP");
    }
    const int expected = 2 * ec_group[0].outputsWKC + ec_group[0].inputsWKC;
    std::atomic<bool> stopCycle{false};
    CycleCounts cycles;
    std::thread pd(ProcessData, std::cref(stopCycle), expected, std::ref(cycles));
    ec_slave[0].state = EC_STATE_OPERATIONAL;
    ec_writestate(0);
    if (ec_statecheck(0, EC_STATE_OPERATIONAL, EC_TIMEOUTSTATE) != EC_STATE_OPERATIONAL) {
        stopCycle = true;
        pd.join();
        return Fail("the slaves did not reach OP");
    }

    // The tool's supervision, fed as the tool's process-data thread feeds it.
    g_expectedWkc = expected;
    g_inOp = 1;
    g_busPause = 0;
    ClearBusStop();
    std::thread supervision(SupervisionThread);

    SdoLoad sdo;
    if (!sdo.Prepare()) {
        RequestBusStop();
        supervision.join();
        stopCycle = true;
        pd.join();
        return Fail("the bridges' scratch objects could not be read");
    }
    std::atomic<bool> stopSdo{false};
    std::thread sdoThread([&] { sdo.Run(stopSdo); });

    std::this_thread::sleep_for(seconds(1));
    const long rssStart = RssKb();
    const long fdsStart = OpenDescriptors();
    std::printf("fault soak: %d s of faults against zrsim (%s) over veth, %lld us cycle\n",
                faultSeconds, kSlaves, static_cast<long long>(kCycle.count()));
    std::fflush(stdout);

    FaultCounts faults;
    const uint64_t cyclesBefore = cycles.full + cycles.shortOnes + cycles.none;
    RunFaults(sim, sdo, seconds(faultSeconds), faults);
    const auto faultsEnd = Clock::now();

    // Whole again: zrsim reports every slave in OP and a cycle comes back full.
    const bool whole = testsupport::WaitUntil(
        [&] { return AllReportedInOp(sim) && cycles.lastWkc.load() == expected; }, kRecoveryLimit,
        {.pause = milliseconds(5)});
    const double recoverySeconds =
        whole ? std::chrono::duration<double>(Clock::now() - faultsEnd).count() : -1;
    const long rssEnd = RssKb();
    const long fdsEnd = OpenDescriptors();

    stopSdo = true;
    sdoThread.join();
    RequestBusStop();
    supervision.join();
    stopCycle = true;
    pd.join();
    ec_close();

    const uint64_t full = cycles.full, shortOnes = cycles.shortOnes, none = cycles.none;
    const SdoCounts& s = sdo.counts();
    const SupervisionCounts sv = CountSupervision();
    std::printf(
        "faults: %.0f %% of frames lost, every frame delayed %d/%d/%d us in turn, "
        "%d power cycles (%lld s off), %d forced SAFE-OP errors%s\n",
        kDropRate * 100, kDelaysUs[0], kDelaysUs[1], kDelaysUs[2], faults.powerCycles,
        static_cast<long long>(kPowerOffFor.count()), faults.safeOpErrors,
        faults.refused > 0 ? " (some control commands refused)" : "");
    std::printf(
        "process data: %llu cycles (%llu before the faults): %llu full, %llu short, "
        "%llu without a working counter\n",
        static_cast<unsigned long long>(full + shortOnes + none),
        static_cast<unsigned long long>(cyclesBefore), static_cast<unsigned long long>(full),
        static_cast<unsigned long long>(shortOnes), static_cast<unsigned long long>(none));
    std::printf("SDO: %llu attempts (%llu reads, %llu writes), %llu failed, %llu wrong values\n",
                static_cast<unsigned long long>(s.reads + s.writes),
                static_cast<unsigned long long>(s.reads.load()),
                static_cast<unsigned long long>(s.writes.load()),
                static_cast<unsigned long long>(s.failed.load()),
                static_cast<unsigned long long>(s.wrong.load()));
    for (const std::string& w : sdo.wrongValues()) std::printf("  wrong: %s\n", w.c_str());
    std::printf(
        "supervision: %d acknowledged, %d asked for OP, %d reconfigured, %d recovered, "
        "%d found, %d lost, %d full restarts\n",
        sv.acks, sv.opRequests, sv.reconfigured, sv.recovered, sv.found, sv.lost, sv.restarts);
    std::printf(
        "memory: RSS %ld kB at start, %ld kB at end; descriptors %ld at start, %ld at end\n",
        rssStart, rssEnd, fdsStart, fdsEnd);
    if (whole) {
        std::printf(
            "recovery: every slave in OP with a full working counter %.3f s after the "
            "faults stopped (the last: a SAFE-OP error forced on every slave)\n",
            recoverySeconds);
    } else {
        std::string states;
        for (const auto& [position, state] : ReportedStates(sim)) {
            states += " " + std::to_string(position) + ":" + state;
        }
        std::printf(
            "recovery: NOT whole %lld s after the faults stopped (zrsim says%s; last "
            "working counter %d of %d)\n",
            static_cast<long long>(kRecoveryLimit.count()), states.c_str(), cycles.lastWkc.load(),
            expected);
    }
    return s.wrong.load() == 0 && whole ? 0 : 1;
}
