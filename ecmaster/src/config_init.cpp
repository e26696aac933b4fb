// ec_config_init and the SII category readers it uses (ec_siiSM, ec_siiSMnext,
// ec_siiFMMU; the categories as ETG.2010 lays them out).
#include <cstdio>
#include <cstring>
#include <mutex>

#include "datagrams.hpp"
#include "ecmaster/codec.hpp"
#include "eeprom.hpp"
#include "ethercat.h"
#include "mailbox.hpp"
#include "sm_fmmu.hpp"

namespace {

using ecmaster::detail::eepromCollect;
using ecmaster::detail::eepromRequest;
using ecmaster::detail::siiGetByte;
using ecmaster::detail::siiGetWord;

constexpr uint32 kDefaultMbxSm0 = 0x00010026;
constexpr uint32 kDefaultMbxSm1 = 0x00010022;

// Both mailboxes lie in the slave's process memory. One placed over its
// registers (or wrapping past the top) by a corrupt EEPROM would have mailbox
// writes land in those registers: such a slave is taken as one without mailbox.
bool mailboxesInProcessMemory(const ec_slavet& s) {
    auto fits = [](uint16 start, uint16 length) {
        return start >= ecat::reg::RegisterSpaceSize &&
               uint32{start} + length <= ecat::reg::AddressSpaceSize;
    };
    return fits(s.mbx_wo, s.mbx_l) && fits(s.mbx_ro, s.mbx_rl);
}

// One 8-byte entry of the SII sync manager category, at byte address `p`.
void readSmEntry(uint16 slave, uint32 p, ec_eepromSMt& sm) {
    sm.PhStart = siiGetWord(slave, p);
    sm.Plength = siiGetWord(slave, p + 2);
    sm.Creg = siiGetByte(slave, p + 4);
    sm.Sreg = siiGetByte(slave, p + 5);
    sm.Activate = siiGetByte(slave, p + 6);
    sm.PDIctrl = siiGetByte(slave, p + 7);
}

void resetContext() {
    ec_slavecount = 0;
    // A mailbox transfer of another thread (a read whose caller stopped waiting
    // for it) reads its slave's record until it ends; cleared under it, the
    // record would send its polls to station address 0, every slave not yet
    // configured. So each record is cleared under its slave's mailbox lock,
    // once no transfer holds it.
    for (uint16_t slave = 0; slave < EC_MAXSLAVE; ++slave) {
        std::lock_guard<std::recursive_mutex> transfer(ecmaster::detail::mailboxLock(slave));
        std::memset(&ec_slave[slave], 0, sizeof ec_slave[slave]);
        ecmaster::detail::mailboxStateClear(slave);
    }
    std::memset(ec_group, 0, sizeof ec_group);
    ecmaster::detail::siiCacheClear();
    for (int g = 0; g < EC_MAXGROUP; ++g)
        ec_group[g].logstartaddr = static_cast<uint32>(g) << EC_LOGGROUPOFFSET;
}

// A register word the configuration keeps. On a busy machine an answer may come
// later than a round trip's timeout: the read is made again while no frame
// comes back, and without any answer the value is `fallback`, never the zeros
// of a read that did not happen. (A frame back with working counter 0 is an
// answer: no slave there.)
uint16 keptWord(ecat::Cmd cmd, uint16 adp, uint16 ado, uint16 fallback) {
    for (int attempt = 0; attempt <= EC_DEFAULTRETRIES; ++attempt) {
        uint8 w[2] = {0, 0};
        const int wkc = ecmaster::detail::datagram(cmd, adp, ado, 2, w, EC_TIMEOUTRET3, true);
        if (wkc > 0) return ecat::get16(w);
        if (wkc == 0) break;
    }
    return fallback;
}

int bwr8(uint16 ado, uint8 v) {
    return ec_BWR(0, ado, 1, &v, EC_TIMEOUTRET3);
}
int bwr16(uint16 ado, uint16 v) {
    uint8 w[2];
    ecat::put16(w, v);
    return ec_BWR(0, ado, 2, w, EC_TIMEOUTRET3);
}

int detectSlaves() {
    bwr8(ECT_REG_DLALIAS, 0x00);  // no alias addressing
    bwr16(ECT_REG_ALCTL, EC_STATE_INIT | EC_STATE_ACK);
    bwr16(ECT_REG_ALCTL, EC_STATE_INIT | EC_STATE_ACK);  // old ESCs need it twice
    uint8 w[2] = {0, 0};
    const int wkc = ec_BRD(0, ECT_REG_TYPE, 2, w, EC_TIMEOUTSAFE);
    if (wkc > 0) {
        if (wkc >= EC_MAXSLAVE) return EC_SLAVECOUNTEXCEEDED;
        ec_slavecount = wkc;
    }
    return wkc;
}

void setSlavesToDefault() {
    uint8 zeros[64] = {};
    bwr8(ECT_REG_DLPORT, 0x00);
    bwr16(ECT_REG_IRQMASK, 0x0004);
    ec_BWR(0, ECT_REG_RXERR, 8, zeros, EC_TIMEOUTRET3);
    ec_BWR(0, ECT_REG_FMMU0, 16 * 3, zeros, EC_TIMEOUTRET3);
    ec_BWR(0, ECT_REG_SM0, 8 * 4, zeros, EC_TIMEOUTRET3);
    bwr8(ECT_REG_DCSYNCACT, 0x00);
    ec_BWR(0, ECT_REG_DCSYSTIME, 4, zeros, EC_TIMEOUTRET3);
    bwr16(ECT_REG_DCSPEEDCNT, 0x1000);
    bwr16(ECT_REG_DCTIMEFILT, 0x0C00);
    bwr8(ECT_REG_DLALIAS, 0x00);
    bwr16(ECT_REG_ALCTL, EC_STATE_INIT | EC_STATE_ACK);
    bwr8(ECT_REG_EEPCFG, 0x02);  // force the EEPROM away from the PDI
    bwr8(ECT_REG_EEPCFG, 0x00);  // and give it to the master
}

// Copies what an earlier slave of the same identity had from its SII.
bool lookupPreviousSii(uint16 slave) {
    ec_slavet& s = ec_slave[slave];
    for (uint16 i = 1; i < slave; ++i) {
        const ec_slavet& p = ec_slave[i];
        if (p.eep_man != s.eep_man || p.eep_id != s.eep_id || p.eep_rev != s.eep_rev) continue;
        s.CoEdetails = p.CoEdetails;
        s.FoEdetails = p.FoEdetails;
        s.EoEdetails = p.EoEdetails;
        s.SoEdetails = p.SoEdetails;
        if (p.blockLRW > 0) {
            s.blockLRW = 1;
            ec_slave[0].blockLRW++;
        }
        s.Ebuscurrent = p.Ebuscurrent;
        ec_slave[0].Ebuscurrent = static_cast<int16>(ec_slave[0].Ebuscurrent + s.Ebuscurrent);
        std::memcpy(s.name, p.name, sizeof s.name);
        for (int k = 0; k < EC_MAXSM; ++k) {
            s.SM[k].StartAddr = p.SM[k].StartAddr;
            s.SM[k].SMlength = p.SM[k].SMlength;
            s.SM[k].SMflags = p.SM[k].SMflags;
        }
        s.FMMU0func = p.FMMU0func;
        s.FMMU1func = p.FMMU1func;
        s.FMMU2func = p.FMMU2func;
        s.FMMU3func = p.FMMU3func;
        return true;
    }
    return false;
}

void parseSii(uint16 slave) {
    ec_slavet& s = ec_slave[slave];
    const int16 gen = ec_siifind(slave, ECT_SII_GENERAL);
    if (gen > 0) {
        s.CoEdetails = ec_siigetbyte(slave, gen + 0x07);
        s.FoEdetails = ec_siigetbyte(slave, gen + 0x08);
        s.EoEdetails = ec_siigetbyte(slave, gen + 0x09);
        s.SoEdetails = ec_siigetbyte(slave, gen + 0x0A);
        if (ec_siigetbyte(slave, gen + 0x0D) & 0x02) {
            s.blockLRW = 1;
            ec_slave[0].blockLRW++;
        }
        s.Ebuscurrent = static_cast<int16>(siiGetWord(slave, gen + 0x0E));
        ec_slave[0].Ebuscurrent = static_cast<int16>(ec_slave[0].Ebuscurrent + s.Ebuscurrent);
    }
    if (ec_siifind(slave, ECT_SII_STRING) > 0) {
        ec_siistring(s.name, slave, 1);
    } else {
        std::snprintf(s.name, sizeof s.name, "? M:%8.8x I:%8.8x", static_cast<unsigned>(s.eep_man),
                      static_cast<unsigned>(s.eep_id));
    }
    ec_eepromSMt sm{};
    if (ec_siiSM(slave, &sm) > 0) {
        int k = 0;
        do {
            s.SM[k].StartAddr = sm.PhStart;
            s.SM[k].SMlength = sm.Plength;
            s.SM[k].SMflags =
                static_cast<uint32>(sm.Creg) | (static_cast<uint32>(sm.Activate) << 16);
            ++k;
        } while (k < EC_MAXSM && ec_siiSMnext(slave, &sm, static_cast<uint16>(k)));
    }
    ec_eepromFMMUt fm{};
    if (ec_siiFMMU(slave, &fm) > 0) {
        if (fm.FMMU0 != 0xFF) s.FMMU0func = fm.FMMU0;
        if (fm.FMMU1 != 0xFF) s.FMMU1func = fm.FMMU1;
        if (fm.FMMU2 != 0xFF) s.FMMU2func = fm.FMMU2;
        if (fm.FMMU3 != 0xFF) s.FMMU3func = fm.FMMU3;
    }
}

}  // namespace

extern "C" {

uint16 ec_siiSM(uint16 slave, ec_eepromSMt* SM) {
    if (SM == nullptr || slave >= EC_MAXSLAVE) return 0;
    const uint8 eectl = ec_slave[slave].eep_pdi;
    SM->nSM = 0;
    int16 a = ec_siifind(slave, ECT_SII_SM);
    SM->Startpos = static_cast<uint16>(a);
    if (a > 0) {
        const uint16 words = siiGetWord(slave, a);
        SM->nSM = static_cast<uint8>(words / 4);
        readSmEntry(slave, static_cast<uint32>(a) + 2, *SM);
    }
    if (eectl) ec_eeprom2pdi(slave);
    return SM->nSM;
}

uint16 ec_siiSMnext(uint16 slave, ec_eepromSMt* SM, uint16 n) {
    if (SM == nullptr || slave >= EC_MAXSLAVE) return 0;
    const uint8 eectl = ec_slave[slave].eep_pdi;
    uint16 ret = 0;
    if (n < SM->nSM) {
        readSmEntry(slave, static_cast<uint32>(SM->Startpos) + 2 + n * 8u, *SM);
        ret = 1;
    }
    if (eectl) ec_eeprom2pdi(slave);
    return ret;
}

uint8 ec_siiFMMU(uint16 slave, ec_eepromFMMUt* FMMU) {
    if (FMMU == nullptr || slave >= EC_MAXSLAVE) return 0;
    const uint8 eectl = ec_slave[slave].eep_pdi;
    FMMU->nFMMU = 0;
    FMMU->FMMU0 = FMMU->FMMU1 = FMMU->FMMU2 = FMMU->FMMU3 = 0;
    const int16 a = ec_siifind(slave, ECT_SII_FMMU);
    FMMU->Startpos = static_cast<uint16>(a);
    if (a > 0) {
        const uint16 words = siiGetWord(slave, a);
        FMMU->nFMMU = static_cast<uint8>(words * 2);
        const uint32 p = static_cast<uint32>(a) + 2;
        FMMU->FMMU0 = ec_siigetbyte(slave, static_cast<uint16>(p));
        FMMU->FMMU1 = ec_siigetbyte(slave, static_cast<uint16>(p + 1));
        if (FMMU->nFMMU > 2) {
            FMMU->FMMU2 = ec_siigetbyte(slave, static_cast<uint16>(p + 2));
            FMMU->FMMU3 = ec_siigetbyte(slave, static_cast<uint16>(p + 3));
        }
    }
    if (eectl) ec_eeprom2pdi(slave);
    return FMMU->nFMMU;
}

int ec_config_init(uint8 usetable) {
    (void)usetable;  // the deprecated built-in device table is not offered
    resetContext();
    const int wkc = detectSlaves();
    if (wkc <= 0) return wkc;
    setSlavesToDefault();
    const int n = ec_slavecount;

    // Addresses, and the first SII request (vendor).
    for (int slave = 1; slave <= n; ++slave) {
        ec_slavet& s = ec_slave[slave];
        const auto adp = static_cast<uint16>(1 - slave);
        s.Itype = keptWord(ecat::Cmd::APRD, adp, ECT_REG_PDICTL, 0);
        const auto station = static_cast<uint16>(slave + EC_NODEOFFSET);
        ec_APWRw(adp, ECT_REG_STADR, station, EC_TIMEOUTRET3);
        // The first slave drops non-EtherCAT frames; the others pass them.
        ec_APWRw(adp, ECT_REG_DLCTL, slave == 1 ? 1 : 0, EC_TIMEOUTRET3);
        // Address 0 is every slave not yet configured: never taken for this one.
        s.configadr = keptWord(ecat::Cmd::APRD, adp, ECT_REG_STADR, station);
        if (s.configadr == 0) s.configadr = station;
        s.aliasadr = keptWord(ecat::Cmd::FPRD, s.configadr, ECT_REG_ALIAS, 0);
        if (keptWord(ecat::Cmd::FPRD, s.configadr, ECT_REG_EEPSTAT, 0) & EC_ESTAT_R64)
            s.eep_8byte = 1;
        eepromRequest(static_cast<uint16>(slave), ECT_SII_MANUF);
    }
    // Identity and mailbox words: collect one item of every slave, request the next.
    for (int slave = 1; slave <= n; ++slave) {
        ec_slave[slave].eep_man = eepromCollect(static_cast<uint16>(slave), EC_TIMEOUTEEP);
        eepromRequest(static_cast<uint16>(slave), ECT_SII_ID);
    }
    for (int slave = 1; slave <= n; ++slave) {
        ec_slave[slave].eep_id = eepromCollect(static_cast<uint16>(slave), EC_TIMEOUTEEP);
        eepromRequest(static_cast<uint16>(slave), ECT_SII_REV);
    }
    for (int slave = 1; slave <= n; ++slave) {
        ec_slave[slave].eep_rev = eepromCollect(static_cast<uint16>(slave), EC_TIMEOUTEEP);
        eepromRequest(static_cast<uint16>(slave), ECT_SII_RXMBXADR);
    }
    for (int slave = 1; slave <= n; ++slave) {
        ec_slavet& s = ec_slave[slave];
        const uint32 d = eepromCollect(static_cast<uint16>(slave), EC_TIMEOUTEEP);
        s.mbx_wo = static_cast<uint16>(LO_WORD(d));
        s.mbx_l = static_cast<uint16>(HI_WORD(d));
        if (s.mbx_l > 0) eepromRequest(static_cast<uint16>(slave), ECT_SII_TXMBXADR);
    }
    for (int slave = 1; slave <= n; ++slave) {
        ec_slavet& s = ec_slave[slave];
        if (s.mbx_l > 0) {
            const uint32 d = eepromCollect(static_cast<uint16>(slave), EC_TIMEOUTEEP);
            s.mbx_ro = static_cast<uint16>(LO_WORD(d));
            s.mbx_rl = static_cast<uint16>(HI_WORD(d));
            if (s.mbx_rl == 0) s.mbx_rl = s.mbx_l;
            eepromRequest(static_cast<uint16>(slave), ECT_SII_MBXPROTO);
        }
    }

    // Second pass: topology, SII categories, mailbox sync managers, PRE-OP.
    for (int slave = 1; slave <= n; ++slave) {
        ec_slavet& s = ec_slave[slave];
        const uint16 configadr = s.configadr;
        s.hasdc = (keptWord(ecat::Cmd::FPRD, configadr, ECT_REG_ESCSUP, 0) & 0x04) ? TRUE : FALSE;
        const uint16 dl = keptWord(ecat::Cmd::FPRD, configadr, ECT_REG_DLSTAT, 0);
        s.topology = 0;
        s.activeports = 0;
        for (int port = 0; port < 4; ++port) {
            if (((dl >> (8 + 2 * port)) & 0x03) == 0x02) {
                s.topology++;
                s.activeports |= static_cast<uint8>(1 << port);
            }
        }
        s.ptype = static_cast<uint8>(keptWord(ecat::Cmd::FPRD, configadr, ECT_REG_PORTDES, 0));
        s.parent = 0;
        if (slave > 1) {
            int topoc = 0;
            for (int c = slave - 1; c > 0; --c) {
                const uint8 t = ec_slave[c].topology;
                if (t == 1) topoc--;
                if (t == 3) topoc++;
                if (t == 4) topoc += 2;
                if ((topoc >= 0 && t > 1) || c == 1) {
                    s.parent = static_cast<uint16>(c);
                    break;
                }
            }
        }
        ec_statecheck(static_cast<uint16>(slave), EC_STATE_INIT, EC_TIMEOUTSTATE);
        if (s.mbx_l > 0) {
            const auto protocols =
                static_cast<uint16>(eepromCollect(static_cast<uint16>(slave), EC_TIMEOUTEEP));
            if (mailboxesInProcessMemory(s)) {
                s.SMtype[0] = 1;
                s.SMtype[1] = 2;
                s.SMtype[2] = 3;
                s.SMtype[3] = 4;
                s.SM[0] = {s.mbx_wo, s.mbx_l, kDefaultMbxSm0};
                s.SM[1] = {s.mbx_ro, s.mbx_rl, kDefaultMbxSm1};
                s.mbx_proto = protocols;
            } else {
                s.mbx_wo = s.mbx_l = s.mbx_ro = s.mbx_rl = 0;
            }
        }
        if (!lookupPreviousSii(static_cast<uint16>(slave))) parseSii(static_cast<uint16>(slave));
        if (s.mbx_l > 0) {
            if (s.SM[0].StartAddr == 0) {
                s.SM[0] = {0x1000, 0x0080, kDefaultMbxSm0};
                s.SMtype[0] = 1;
            }
            if (s.SM[1].StartAddr == 0) {
                s.SM[1] = {0x1080, 0x0080, kDefaultMbxSm1};
                s.SMtype[1] = 2;
            }
            ecmaster::detail::writeSyncManagers(s, 0, 2, EC_TIMEOUTRET3);  // one datagram
        }
        ec_eeprom2pdi(static_cast<uint16>(slave));  // some slaves need it for INIT -> PRE-OP
        if (ecx_context.manualstatechange == 0)
            ec_FPWRw(configadr, ECT_REG_ALCTL, EC_STATE_PRE_OP | EC_STATE_ACK, EC_TIMEOUTRET3);
    }
    return ec_slavecount;
}

}  // extern "C"
