// ec_ALstatuscode2string: the AL status codes of ETG.1000 and ETG.1020.
#include <cstdint>

#include "ethercat.h"

namespace {
struct AlText {
    uint16_t code;
    const char* text;
};

const AlText kAlTexts[] = {
    {0x0000, "No error"},
    {0x0001, "Unspecified error"},
    {0x0002, "No memory"},
    {0x0003, "Invalid device setup"},
    {0x0004, "Invalid revision"},
    {0x0006, "SII/EEPROM information does not match firmware"},
    {0x0007, "Firmware update not successful. Old firmware still running"},
    {0x000E, "License error"},
    {0x0011, "Invalid requested state change"},
    {0x0012, "Unknown requested state"},
    {0x0013, "Bootstrap not supported"},
    {0x0014, "No valid firmware"},
    {0x0015, "Invalid mailbox configuration (BOOT state)"},
    {0x0016, "Invalid mailbox configuration (PRE-OP state)"},
    {0x0017, "Invalid sync manager configuration"},
    {0x0018, "No valid inputs available"},
    {0x0019, "No valid outputs"},
    {0x001A, "Synchronization error"},
    {0x001B, "Sync manager watchdog"},
    {0x001C, "Invalid sync manager types"},
    {0x001D, "Invalid output configuration"},
    {0x001E, "Invalid input configuration"},
    {0x001F, "Invalid watchdog configuration"},
    {0x0020, "Slave needs cold start"},
    {0x0021, "Slave needs INIT"},
    {0x0022, "Slave needs PRE-OP"},
    {0x0023, "Slave needs SAFE-OP"},
    {0x0024, "Invalid input mapping"},
    {0x0025, "Invalid output mapping"},
    {0x0026, "Inconsistent settings"},
    {0x0027, "Free-run not supported"},
    {0x0028, "Synchronisation not supported"},
    {0x0029, "Free-run needs 3-buffer mode"},
    {0x002A, "Background watchdog"},
    {0x002B, "No valid inputs and outputs"},
    {0x002C, "Fatal sync error"},
    {0x002D, "No sync error"},
    {0x002E, "Invalid input FMMU configuration"},
    {0x0030, "Invalid DC SYNC configuration"},
    {0x0031, "Invalid DC latch configuration"},
    {0x0032, "PLL error"},
    {0x0033, "DC sync IO error"},
    {0x0034, "DC sync timeout error"},
    {0x0035, "DC invalid sync cycle time"},
    {0x0036, "DC invalid sync0 cycle time"},
    {0x0037, "DC invalid sync1 cycle time"},
    {0x0041, "MBX_AOE"},
    {0x0042, "MBX_EOE"},
    {0x0043, "MBX_COE"},
    {0x0044, "MBX_FOE"},
    {0x0045, "MBX_SOE"},
    {0x004F, "MBX_VOE"},
    {0x0050, "EEPROM no access"},
    {0x0051, "EEPROM error"},
    {0x0052, "External hardware not ready"},
    {0x0060, "Slave restarted locally"},
    {0x0061, "Device identification value updated"},
    {0x0070, "Detected module ident list does not match"},
    {0x0080, "Supply voltage too low"},
    {0x0081, "Supply voltage too high"},
    {0x0082, "Temperature too low"},
    {0x0083, "Temperature too high"},
    {0x00F0, "Application controller available"},
};

char kUnknown[] = "Unknown";
}  // namespace

extern "C" char* ec_ALstatuscode2string(uint16 ALstatuscode) {
    for (const auto& t : kAlTexts)
        if (t.code == ALstatuscode) return const_cast<char*>(t.text);
    return kUnknown;
}
