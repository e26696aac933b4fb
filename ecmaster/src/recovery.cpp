// ec_recover_slave (find a slave that lost its address) and ec_reconfig_slave
// (bring one slave back to SAFE-OP).
#include "ecmaster/codec.hpp"
#include "ethercat.h"
#include "mailbox.hpp"
#include "sm_fmmu.hpp"

using ecmaster::detail::writeFmmu;
using ecmaster::detail::writeSyncManagers;

extern "C" {

int ec_recover_slave(uint16 slave, int timeout) {
    if (slave < 1 || slave >= EC_MAXSLAVE) return 0;
    ec_slavet& s = ec_slave[slave];
    const uint16 configadr = s.configadr;
    const auto adp = static_cast<uint16>(1 - slave);
    uint8 w[2];
    ecat::put16(w, 0xFFFE);
    const int wkc = ec_APRD(adp, ECT_REG_STADR, 2, w, timeout);
    const uint16 readadr = ecat::get16(w);
    if (readadr == configadr) return 1;  // the right slave, still addressed
    int rval = 0;
    if (wkc > 0 && readadr == 0) {
        // A power-cycled slave: park it at the temporary address and check who it is.
        ec_FPWRw(EC_TEMPNODE, ECT_REG_STADR, 0, 0);
        if (ec_APWRw(adp, ECT_REG_STADR, EC_TEMPNODE, timeout) <= 0) {
            ec_FPWRw(EC_TEMPNODE, ECT_REG_STADR, 0, 0);
            return 0;
        }
        // The slave is checked at the temporary address without touching its
        // record: the process-data thread and SDOs read configadr meanwhile.
        for (uint8 eepctl : {uint8{2}, uint8{0}}) {  // EEPROM to the master
            ec_FPWR(EC_TEMPNODE, ECT_REG_EEPCFG, 1, &eepctl, timeout);
        }
        s.eep_pdi = 0;
        const auto siiWord = [](uint16 word) {
            return static_cast<uint32>(ec_readeepromFP(EC_TEMPNODE, word, EC_TIMEOUTEEP));
        };
        if (ec_FPRDw(EC_TEMPNODE, ECT_REG_ALIAS, timeout) == s.aliasadr &&
            siiWord(ECT_SII_ID) == s.eep_id && siiWord(ECT_SII_MANUF) == s.eep_man &&
            siiWord(ECT_SII_REV) == s.eep_rev) {
            rval = ec_FPWRw(EC_TEMPNODE, ECT_REG_STADR, configadr, timeout);
        } else {
            ec_FPWRw(EC_TEMPNODE, ECT_REG_STADR, 0, timeout);  // not the one we had
        }
    }
    return rval;
}

int ec_reconfig_slave(uint16 slave, int timeout) {
    if (slave < 1 || slave >= EC_MAXSLAVE) return 0;
    ec_slavet& s = ec_slave[slave];
    const uint16 configadr = s.configadr;
    // INIT with the acknowledge bit: a slave that sits in an error state (SAFE-OP
    // with error, say) steps down to INIT either way, but only an acknowledged
    // error lets it go up again to PRE-OP and SAFE-OP below. (SOEM writes INIT
    // alone; the acknowledge is harmless on a slave without error.)
    if (ec_FPWRw(configadr, ECT_REG_ALCTL, EC_STATE_INIT | EC_STATE_ACK, timeout) <= 0) return 0;
    ec_eeprom2pdi(slave);
    int state = ec_statecheck(slave, EC_STATE_INIT, EC_TIMEOUTSTATE);
    if (state == EC_STATE_INIT) {
        // In INIT the slave closed its mailbox and forgot what it held: what
        // its read mailbox gave before (a counter to tell a repeat by) no
        // longer says anything about the messages to come.
        ecmaster::detail::mailboxStateClear(slave);
        for (int k = 0; k < EC_MAXSM; ++k) {
            if (s.SM[k].StartAddr) writeSyncManagers(s, k, 1, timeout);
        }
        ec_FPWRw(configadr, ECT_REG_ALCTL, EC_STATE_PRE_OP, timeout);
        state = ec_statecheck(slave, EC_STATE_PRE_OP, EC_TIMEOUTSTATE);
        if (state == EC_STATE_PRE_OP) {
            if (s.PO2SOconfig)
                s.PO2SOconfig(slave);
            else if (s.PO2SOconfigx)
                s.PO2SOconfigx(&ecx_context, slave);
            // The FMMUs go in before SAFE-OP is requested (SOEM writes them after
            // the request): a slave that checks its process data configuration
            // on PRE-OP -> SAFE-OP then finds them, as after ec_config_map.
            for (int f = 0; f < s.FMMUunused && f < EC_MAXFMMU; ++f) writeFmmu(s, f, timeout);
            ec_FPWRw(configadr, ECT_REG_ALCTL, EC_STATE_SAFE_OP, timeout);
            state = ec_statecheck(slave, EC_STATE_SAFE_OP, EC_TIMEOUTSTATE);
        }
    }
    return state;
}

}  // extern "C"
