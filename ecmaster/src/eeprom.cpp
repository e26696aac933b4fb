// EEPROM (SII) functions: AP/FP word reads and writes, ownership, and the SII
// byte cache with its category parsers.
#include "eeprom.hpp"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "ecmaster/codec.hpp"
#include "ecmaster/extras.hpp"
#include "ethercat.h"
#include "mailbox.hpp"

namespace ecmaster::detail {
namespace {

// The interface says when a command is done (its busy bit): it is polled at
// once a few times, as a read is done within a round trip or two, and then no
// more often than this, as a write takes milliseconds.
constexpr unsigned kBusyPollCeilingUs = 200;
// A command that was not acknowledged is tried again after this pause.
constexpr auto kNackPause = std::chrono::milliseconds(1);

// The register access of one addressing mode: auto-increment or configured.
struct Access {
    bool autoInc;
    uint16_t adp;
    int rd(uint16_t ado, uint16_t len, void* data, int timeout) const {
        return autoInc ? ec_APRD(adp, ado, len, data, timeout)
                       : ec_FPRD(adp, ado, len, data, timeout);
    }
    int wr(uint16_t ado, uint16_t len, void* data, int timeout) const {
        return autoInc ? ec_APWR(adp, ado, len, data, timeout)
                       : ec_FPWR(adp, ado, len, data, timeout);
    }
};

// Polls the EEPROM status until not busy. True when the last poll succeeded
// and showed the interface idle; `estat` holds that status.
bool waitNotBusy(const Access& a, uint16_t& estat, int timeout) {
    PollPacer pacer(deadlineIn(timeout), kBusyPollCeilingUs);
    for (;;) {
        uint8_t w[2] = {0, 0};
        const int wkc = a.rd(ECT_REG_EEPSTAT, 2, w, EC_TIMEOUTRET);
        estat = ecat::get16(w);
        if (wkc > 0 && (estat & EC_ESTAT_BUSY) == 0) return true;
        if (pacer.expired()) return false;
        pacer.pause();
    }
}

void clearErrors(const Access& a, uint16_t estat) {
    if (estat & EC_ESTAT_EMASK) {
        uint8_t w[2] = {0, 0};  // EC_ECMD_NOP
        a.wr(ECT_REG_EEPCTL, 2, w, EC_TIMEOUTRET3);
    }
}

int writeRetried(const Access& a, uint16_t ado, uint16_t len, void* data) {
    int wkc = 0;
    for (int cnt = 0; cnt <= EC_DEFAULTRETRIES; ++cnt) {
        wkc = a.wr(ado, len, data, EC_TIMEOUTRET);
        if (wkc > 0) break;
    }
    return wkc;
}

// The data a command fetched: asked for with the patience of the configuration's
// reads, as a busy machine may answer later than a round trip's timeout and
// the data would otherwise be taken as zeros.
int readRetried(const Access& a, uint16_t ado, uint16_t len, void* data) {
    int wkc = 0;
    for (int cnt = 0; cnt <= EC_DEFAULTRETRIES; ++cnt) {
        wkc = a.rd(ado, len, data, EC_TIMEOUTRET3);
        if (wkc > 0) break;
    }
    return wkc;
}

void commandBytes(uint8_t (&ed)[6], uint16_t cmd, uint16_t eeproma) {
    ecat::put16(ed, cmd);
    ecat::put16(ed + 2, eeproma);
    ecat::put16(ed + 4, 0);
}

// Reads 4 or 8 bytes at word `eeproma`. False when nothing could be read.
bool readWord(const Access& a, uint16_t eeproma, int timeout, uint64_t& value, bool& eightBytes) {
    value = 0;
    eightBytes = false;
    uint16_t estat = 0;
    if (!waitNotBusy(a, estat, timeout)) return false;
    clearErrors(a, estat);
    for (int nack = 0; nack < 3;) {
        uint8_t ed[6];
        commandBytes(ed, EC_ECMD_READ, eeproma);
        if (writeRetried(a, ECT_REG_EEPCTL, sizeof ed, ed) <= 0) return false;
        if (!waitNotBusy(a, estat, timeout)) return false;
        if (estat & EC_ESTAT_NACK) {
            ++nack;
            std::this_thread::sleep_for(kNackPause);
            continue;
        }
        uint8_t d[8] = {};
        eightBytes = (estat & EC_ESTAT_R64) != 0;
        if (readRetried(a, ECT_REG_EEPDAT, eightBytes ? 8 : 4, d) <= 0) return false;
        value = eightBytes ? ecat::get64(d) : ecat::get32(d);
        return true;
    }
    return false;
}

int writeWord(const Access& a, uint16_t eeproma, uint16_t data, int timeout) {
    uint16_t estat = 0;
    if (!waitNotBusy(a, estat, timeout)) return 0;
    clearErrors(a, estat);
    for (int nack = 0; nack < 3;) {
        uint8_t d[2];
        ecat::put16(d, data);
        if (writeRetried(a, ECT_REG_EEPDAT, 2, d) <= 0) return 0;
        uint8_t ed[6];
        commandBytes(ed, EC_ECMD_WRITE, eeproma);
        if (writeRetried(a, ECT_REG_EEPCTL, sizeof ed, ed) <= 0) return 0;
        if (!waitNotBusy(a, estat, timeout)) return 0;
        if (estat & EC_ESTAT_NACK) {
            ++nack;
            std::this_thread::sleep_for(kNackPause);
            continue;
        }
        return 1;
    }
    return 0;
}

Access fp(uint16_t slave) {
    return {false, ec_slave[slave].configadr};
}

// ---- SII byte cache (one slave at a time) ----
std::recursive_mutex& siiMutex() {
    static std::recursive_mutex m;
    return m;
}

bool validSlave(uint16_t slave) {
    return slave < EC_MAXSLAVE;
}

// The SII byte at `address` through the cache. False when the EEPROM could not
// be read (nothing is cached then, so a later call tries again).
bool siiByte(uint16_t slave, uint16_t address, uint8_t& value) {
    std::lock_guard lk(siiMutex());
    ecx_contextt& c = ecx_context;
    value = 0xFF;
    if (slave != c.esislave) {
        std::memset(c.esimap, 0, EC_MAXEEPBITMAP * sizeof(uint32));
        c.esislave = slave;
    }
    if (address >= EC_MAXEEPBUF || !validSlave(slave)) return true;
    const uint16_t mapw = address >> 5;
    const uint32_t mapb = 1u << (address & 31);
    if ((c.esimap[mapw] & mapb) == 0) {
        ec_eeprom2master(slave);
        const uint16_t eadr = address >> 1;
        uint64_t v = 0;
        bool eight = false;
        if (!readWord(Access{false, ec_slave[slave].configadr}, eadr, EC_TIMEOUTEEP, v, eight)) {
            value = 0;
            return false;
        }
        const int cnt = eight ? 8 : 4;
        uint32_t ibuf = static_cast<uint32_t>(eadr) << 1;
        for (int i = 0; i < cnt; ++i, ++ibuf) {
            if (ibuf < EC_MAXEEPBUF) {
                c.esibuf[ibuf] = static_cast<uint8_t>(v >> (8 * i));
                c.esimap[ibuf >> 5] |= 1u << (ibuf & 31);
            }
        }
    }
    value = c.esibuf[address];
    return true;
}

// The SII word at byte address `at`; words past the cache read as the end marker.
bool siiWord(uint16_t slave, uint32_t at, uint16_t& value) {
    value = 0xFFFF;
    if (at + 1 >= EC_MAXEEPBUF) return true;
    uint8_t lo = 0;
    uint8_t hi = 0;
    if (!siiByte(slave, static_cast<uint16_t>(at), lo) ||
        !siiByte(slave, static_cast<uint16_t>(at + 1), hi)) {
        return false;
    }
    value = static_cast<uint16_t>(lo | (hi << 8));
    return true;
}

}  // namespace

void eepromRequest(uint16_t slave, uint16_t eeproma) {
    const Access a = fp(slave);
    uint16_t estat = 0;
    if (!waitNotBusy(a, estat, EC_TIMEOUTEEP)) return;
    clearErrors(a, estat);
    uint8_t ed[6];
    commandBytes(ed, EC_ECMD_READ, eeproma);
    writeRetried(a, ECT_REG_EEPCTL, sizeof ed, ed);
}

uint32_t eepromCollect(uint16_t slave, int timeout) {
    const Access a = fp(slave);
    uint16_t estat = 0;
    if (!waitNotBusy(a, estat, timeout)) return 0;
    uint8_t d[4] = {};
    if (readRetried(a, ECT_REG_EEPDAT, 4, d) <= 0) return 0;
    return ecat::get32(d);
}

void siiCacheClear() {
    std::lock_guard lk(siiMutex());
    std::memset(ecx_context.esimap, 0, EC_MAXEEPBITMAP * sizeof(uint32));
    ecx_context.esislave = 0;
}

uint8_t siiGetByte(uint16_t slave, uint32_t address) {
    return address < EC_MAXEEPBUF ? ec_siigetbyte(slave, static_cast<uint16_t>(address)) : 0xFF;
}

uint16_t siiGetWord(uint16_t slave, uint32_t address) {
    return static_cast<uint16_t>(siiGetByte(slave, address) |
                                 (siiGetByte(slave, address + 1) << 8));
}

}  // namespace ecmaster::detail

using ecmaster::detail::Access;

extern "C" {

uint64 ec_readeepromAP(uint16 aiadr, uint16 eeproma, int timeout) {
    uint64_t v = 0;
    bool eight = false;
    ecmaster::detail::readWord(Access{true, aiadr}, eeproma, timeout, v, eight);
    return v;
}

int ec_writeeepromAP(uint16 aiadr, uint16 eeproma, uint16 data, int timeout) {
    return ecmaster::detail::writeWord(Access{true, aiadr}, eeproma, data, timeout);
}

uint64 ec_readeepromFP(uint16 configadr, uint16 eeproma, int timeout) {
    uint64_t v = 0;
    bool eight = false;
    ecmaster::detail::readWord(Access{false, configadr}, eeproma, timeout, v, eight);
    return v;
}

int ec_writeeepromFP(uint16 configadr, uint16 eeproma, uint16 data, int timeout) {
    return ecmaster::detail::writeWord(Access{false, configadr}, eeproma, data, timeout);
}

int ec_eeprom2master(uint16 slave) {
    if (!ecmaster::detail::validSlave(slave)) return 0;
    int wkc = 1;
    ec_slavet& s = ec_slave[slave];
    if (s.eep_pdi) {
        for (uint8 eepctl : {uint8{2}, uint8{0}}) {  // force, then release to the master
            for (int cnt = 0; cnt <= EC_DEFAULTRETRIES; ++cnt) {
                wkc = ec_FPWR(s.configadr, ECT_REG_EEPCFG, 1, &eepctl, EC_TIMEOUTRET);
                if (wkc > 0) break;
            }
        }
        s.eep_pdi = 0;
    }
    return wkc;
}

int ec_eeprom2pdi(uint16 slave) {
    if (!ecmaster::detail::validSlave(slave)) return 0;
    int wkc = 1;
    ec_slavet& s = ec_slave[slave];
    if (!s.eep_pdi) {
        uint8 eepctl = 1;
        for (int cnt = 0; cnt <= EC_DEFAULTRETRIES; ++cnt) {
            wkc = ec_FPWR(s.configadr, ECT_REG_EEPCFG, 1, &eepctl, EC_TIMEOUTRET);
            if (wkc > 0) break;
        }
        s.eep_pdi = 1;
    }
    return wkc;
}

uint32 ec_readeeprom(uint16 slave, uint16 eeproma, int timeout) {
    if (!ecmaster::detail::validSlave(slave)) return 0;
    ec_eeprom2master(slave);
    return static_cast<uint32>(ec_readeepromFP(ec_slave[slave].configadr, eeproma, timeout));
}

int ec_writeeeprom(uint16 slave, uint16 eeproma, uint16 data, int timeout) {
    if (!ecmaster::detail::validSlave(slave)) return 0;
    ec_eeprom2master(slave);
    return ec_writeeepromFP(ec_slave[slave].configadr, eeproma, data, timeout);
}

uint8 ec_siigetbyte(uint16 slave, uint16 address) {
    uint8 value = 0;
    ecmaster::detail::siiByte(slave, address, value);
    return value;
}

int16 ec_siifind(uint16 slave, uint16 cat) {
    std::lock_guard lk(ecmaster::detail::siiMutex());
    if (!ecmaster::detail::validSlave(slave)) return 0;
    const uint8 eectl = ec_slave[slave].eep_pdi;
    // A word that cannot be read ends the walk: the categories after it cannot
    // be found, and a slave that stopped answering would otherwise cost an
    // EEPROM timeout for every word up to the end of the cache.
    auto word = [slave](uint32 at, uint16& w) { return ecmaster::detail::siiWord(slave, at, w); };
    uint32 a = ECT_SII_START << 1;
    uint16 p = 0;
    bool ok = word(a, p);
    a += 2;
    while (ok && p != cat && p != 0xFFFF) {
        uint16 len = 0;
        ok = word(a, len);
        a += 2 + (static_cast<uint32>(len) << 1);
        ok = ok && word(a, p);
        a += 2;
    }
    int16 result = 0;
    if (ok && p == cat && a < EC_MAXEEPBUF) result = static_cast<int16>(a);
    if (eectl) ec_eeprom2pdi(slave);
    return result;
}

void ec_siistring(char* str, uint16 slave, uint16 Sn) {
    if (str == nullptr) return;
    std::lock_guard lk(ecmaster::detail::siiMutex());
    str[0] = '\0';
    if (!ecmaster::detail::validSlave(slave)) return;
    const uint8 eectl = ec_slave[slave].eep_pdi;
    const int16 a = ec_siifind(slave, ECT_SII_STRING);
    auto byte = [slave](uint32 at, uint8& b) {
        return ecmaster::detail::siiByte(slave, static_cast<uint16>(at), b);
    };
    uint32 ba = static_cast<uint32>(a) + 2;  // skip the length word
    uint8 number = 0;
    if (a > 0 && byte(ba++, number) && Sn >= 1 && Sn <= number) {
        // Strings are walked until the wanted one; an unreadable byte ends the walk.
        for (uint16 i = 1; i <= Sn && ba < EC_MAXEEPBUF; ++i) {
            uint8 l = 0;
            if (!byte(ba++, l)) break;
            if (i < Sn) {
                ba += l;
                continue;
            }
            int j = 0;
            for (uint8 ch = 0; j < l && j < EC_MAXNAME && byte(ba + j, ch); ++j)
                str[j] = static_cast<char>(ch);
            str[j] = '\0';
        }
    }
    if (eectl) ec_eeprom2pdi(slave);
}

}  // extern "C"

int ec_readeepromAP_checked(uint16_t aiadr, uint16_t eeproma, int timeout, uint64_t* value) {
    uint64_t v = 0;
    bool eight = false;
    const bool read = ecmaster::detail::readWord(Access{true, aiadr}, eeproma, timeout, v, eight);
    if (value != nullptr) *value = read ? v : 0;
    return read ? 1 : 0;
}

void ec_siicache_drop(uint16_t slave) {
    std::lock_guard lk(ecmaster::detail::siiMutex());
    if (ecx_context.esislave == slave) ecmaster::detail::siiCacheClear();
}
