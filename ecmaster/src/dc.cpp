// Distributed clocks: system time offsets and propagation delays from the
// receive times every slave latched, and SYNC0 set-up.
#include <time.h>

#include <array>

#include "ethercat.h"

namespace {

constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kUnixTo2000 = 946684800;        // seconds from 1970-01-01 to 2000-01-01
constexpr int64_t kSyncStartDelayNs = 100000000;  // SYNC0 starts 100 ms ahead

// Ports in the order a frame passes them through a slave.
constexpr std::array<uint8_t, 4> kProcessingOrder = {0, 3, 1, 2};

int64_t masterTimeNs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (static_cast<int64_t>(ts.tv_sec) - kUnixTo2000) * kNsPerSecond + ts.tv_nsec;
}

bool portActive(const ec_slavet& s, uint8_t port) {
    return (s.activeports & (1u << port)) != 0;
}

int32 portTime(const ec_slavet& s, uint8_t port) {
    switch (port) {
        case 0:
            return s.DCrtA;
        case 1:
            return s.DCrtB;
        case 2:
            return s.DCrtC;
        default:
            return s.DCrtD;
    }
}

// Latched times are 32-bit counters: differences are taken modulo 2^32.
int32_t timeDiff(int32 later, int32 earlier) {
    return static_cast<int32_t>(static_cast<uint32_t>(later) - static_cast<uint32_t>(earlier));
}

// The active port a frame passed just before `port` (the port itself if no other is active).
uint8_t previousPort(const ec_slavet& s, uint8_t port) {
    size_t at = 0;
    while (kProcessingOrder[at] != port) ++at;
    for (size_t step = 1; step < kProcessingOrder.size(); ++step) {
        const uint8_t candidate = kProcessingOrder[(at + kProcessingOrder.size() - step) % 4];
        if (portActive(s, candidate)) return candidate;
    }
    return port;
}

// The entry port: the active port whose latch came first.
uint8_t entryPort(const ec_slavet& s) {
    uint8_t best = 0;
    bool found = false;
    for (uint8_t port : kProcessingOrder) {
        if (!portActive(s, port)) continue;
        if (!found || timeDiff(portTime(s, port), portTime(s, best)) < 0) best = port;
        found = true;
    }
    return best;
}

// Takes the next port of `parent` that leads to a not yet visited branch.
uint8_t takeParentPort(ec_slavet& parent) {
    for (uint8_t port : {uint8_t{3}, uint8_t{1}, uint8_t{2}, uint8_t{0}}) {
        if ((parent.consumedports & (1u << port)) != 0) {
            parent.consumedports = static_cast<uint8>(parent.consumedports & ~(1u << port));
            return port;
        }
    }
    return 0;
}

void latchAndOffset(uint16 i, int64_t masterTime) {
    ec_slavet& s = ec_slave[i];
    int32 t32 = 0;
    ec_FPRD(s.configadr, ECT_REG_DCTIME0, sizeof t32, &t32, EC_TIMEOUTRET);
    s.DCrtA = t32;
    int64 local = 0;
    ec_FPRD(s.configadr, ECT_REG_DCSOF, sizeof local, &local, EC_TIMEOUTRET);
    // System times are 64-bit counters that the slave adds modulo 2^64.
    auto offset =
        static_cast<int64>(static_cast<uint64_t>(masterTime) - static_cast<uint64_t>(local));
    ec_FPWR(s.configadr, ECT_REG_DCSYSOFFSET, sizeof offset, &offset, EC_TIMEOUTRET);
    int32* later[] = {&s.DCrtB, &s.DCrtC, &s.DCrtD};
    const uint16 registers[] = {ECT_REG_DCTIME1, ECT_REG_DCTIME2, ECT_REG_DCTIME3};
    for (size_t k = 0; k < 3; ++k) {
        t32 = 0;
        ec_FPRD(s.configadr, registers[k], sizeof t32, &t32, EC_TIMEOUTRET);
        *later[k] = t32;
    }
}

// Propagation delay from the reference clock to slave `i` whose nearest DC
// ancestor is `parent`, reached through `child` (the ancestor's direct child on
// the way to `i`).
void writeDelay(uint16 i, uint16 parent, uint16 child) {
    ec_slavet& s = ec_slave[i];
    ec_slavet& p = ec_slave[parent];
    s.parentport = takeParentPort(p);
    if (p.topology == 1) s.parentport = p.entryport;  // a line end has only its entry port
    // 64-bit sums of 32-bit differences: latched times a faulty slave reports
    // cannot overflow them; the delay register keeps the low 32 bits.
    // Round trip through this branch, seen at the parent.
    const int64_t dt3 =
        timeDiff(portTime(p, s.parentport), portTime(p, previousPort(p, s.parentport)));
    // Time spent in this slave's own children.
    int64_t dt1 = 0;
    if (s.topology > 1) {
        dt1 = timeDiff(portTime(s, previousPort(s, s.entryport)), portTime(s, s.entryport));
    }
    if (dt1 > dt3) dt1 = -dt1;
    // Earlier branches of the parent already passed.
    int64_t dt2 = 0;
    if (child - parent > 1) {
        dt2 = timeDiff(portTime(p, previousPort(p, s.parentport)), portTime(p, p.entryport));
        if (dt2 < 0) dt2 = -dt2;
    }
    s.pdelay = static_cast<int32>((dt3 - dt1) / 2 + dt2 + p.pdelay);
    int32 delay = s.pdelay;
    ec_FPWR(s.configadr, ECT_REG_DCSYSDELAY, sizeof delay, &delay, EC_TIMEOUTRET);
}

}  // namespace

boolean ec_configdc(void) {
    ec_slave[0].hasdc = FALSE;
    ec_group[0].hasdc = FALSE;
    int32 zero = 0;
    ec_BWR(0, ECT_REG_DCTIME0, sizeof zero, &zero, EC_TIMEOUTRET);  // every slave latches
    const int64_t masterTime = masterTimeNs();
    uint16 previousDc = 0;
    uint16 rootWithoutDc = 0;
    for (uint16 i = 1; i <= ec_slavecount && i < EC_MAXSLAVE; ++i) {
        ec_slavet& s = ec_slave[i];
        s.consumedports = s.activeports;
        if (!s.hasdc) {
            s.DCrtA = s.DCrtB = s.DCrtC = s.DCrtD = 0;
            // A branch without DC slaves still uses up a port of its root.
            const uint16 parent = s.parent;
            if (parent > 0 && ec_slave[parent].topology > 2) rootWithoutDc = parent;
            if (rootWithoutDc != 0 && s.topology == 1) {
                takeParentPort(ec_slave[rootWithoutDc]);
                rootWithoutDc = 0;
            }
            continue;
        }
        if (!ec_slave[0].hasdc) {
            ec_slave[0].hasdc = TRUE;
            ec_slave[0].DCnext = i;
            s.DCprevious = 0;
            for (uint8 g : {uint8{0}, s.group}) {
                if (g >= EC_MAXGROUP) continue;
                ec_group[g].hasdc = TRUE;
                ec_group[g].DCnext = i;
            }
        } else {
            ec_slave[previousDc].DCnext = i;
            s.DCprevious = previousDc;
        }
        previousDc = i;
        latchAndOffset(i, masterTime);
        s.entryport = entryPort(s);
        s.consumedports = static_cast<uint8>(s.consumedports & ~(1u << s.entryport));
        // The nearest ancestor with DC; the reference clock has none and keeps delay 0.
        uint16 child = i;
        uint16 parent = s.parent;
        while (parent > 0 && parent < EC_MAXSLAVE && !ec_slave[parent].hasdc) {
            child = parent;
            parent = ec_slave[parent].parent;
        }
        if (parent > 0 && parent < EC_MAXSLAVE) writeDelay(i, parent, child);
    }
    return ec_slave[0].hasdc;
}

void ec_dcsync0(uint16 slave, boolean act, uint32 CyclTime, int32 CyclShift) {
    if (slave < 1 || slave > ec_slavecount || slave >= EC_MAXSLAVE) return;
    ec_slavet& s = ec_slave[slave];
    uint8 byte = 0;
    ec_FPWR(s.configadr, ECT_REG_DCSYNCACT, 1, &byte, EC_TIMEOUTRET);  // stop the cyclic unit
    ec_FPWR(s.configadr, ECT_REG_DCCUC, 1, &byte, EC_TIMEOUTRET);      // under EtherCAT control
    // The system time is an unsigned 64-bit counter: the start time follows it
    // modulo 2^64, whatever time the slave reports.
    uint64_t now = 0;
    ec_FPRD(s.configadr, ECT_REG_DCSYSTIME, sizeof now, &now, EC_TIMEOUTRET);
    const uint64_t earliest = now + kSyncStartDelayNs;
    uint64_t start = earliest;
    if (CyclTime > 0) start = (earliest / CyclTime + 1) * CyclTime;  // on a whole cycle
    start += static_cast<uint64_t>(static_cast<int64_t>(CyclShift));
    ec_FPWR(s.configadr, ECT_REG_DCSTART0, sizeof start, &start, EC_TIMEOUTRET);
    uint32 cycle = CyclTime;
    ec_FPWR(s.configadr, ECT_REG_DCCYCLE0, sizeof cycle, &cycle, EC_TIMEOUTRET);
    byte = act ? 3 : 0;  // cyclic operation and SYNC0
    ec_FPWR(s.configadr, ECT_REG_DCSYNCACT, 1, &byte, EC_TIMEOUTRET);
    s.DCactive = act;
    s.DCcycle = static_cast<int32>(CyclTime);
    s.DCshift = CyclShift;
}
