// The globals of SOEM's single-context API and the default context that ties
// them together.
#include "ethercat.h"
#include "port.hpp"

ec_slavet ec_slave[EC_MAXSLAVE];
int ec_slavecount;
ec_groupt ec_group[EC_MAXGROUP];
boolean EcatError = FALSE;
int64 ec_DCtime;

namespace {
uint8 esibuf[EC_MAXEEPBUF];
uint32 esimap[EC_MAXEEPBITMAP];
ec_eringt elist;
ec_idxstackT idxstack;
ec_SMcommtypet SMcommtype;
ec_PDOassignt PDOassign;
ec_PDOdesct PDOdesc;
ec_eepromSMt eepSM;
ec_eepromFMMUt eepFMMU;
}  // namespace

ecx_contextt ecx_context = {
    &ecx_port,       // port
    ec_slave,        // slavelist
    &ec_slavecount,  // slavecount
    EC_MAXSLAVE,     // maxslave
    ec_group,        // grouplist
    EC_MAXGROUP,     // maxgroup
    esibuf,          // esibuf
    esimap,          // esimap
    0,               // esislave
    &elist,          // elist
    &idxstack,       // idxstack
    &EcatError,      // ecaterror
    0,               // DCtO
    0,               // DCl
    &ec_DCtime,      // DCtime
    &SMcommtype,     // SMcommtype
    &PDOassign,      // PDOassign
    &PDOdesc,        // PDOdesc
    &eepSM,          // eepSM
    &eepFMMU,        // eepFMMU
    nullptr,         // FOEhook
    nullptr,         // EOEhook
    0                // manualstatechange
};
