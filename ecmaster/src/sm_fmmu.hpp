// Writing a slave's sync manager and FMMU records into its registers, shared by
// configuration, mapping and reconfiguration.
#pragma once

#include "ethercat.h"

namespace ecmaster::detail {

// Writes `count` consecutive sync manager records of `s` from `first` on (their
// register blocks follow each other from 0x0800) in one datagram. Result: wkc.
int writeSyncManagers(const ec_slavet& s, int first, int count, int timeout);

// Writes FMMU record `f` of `s` into its register block (0x0600 + 16 f). Result: wkc.
int writeFmmu(const ec_slavet& s, int f, int timeout);

}  // namespace ecmaster::detail
