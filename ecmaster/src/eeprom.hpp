// SII EEPROM access through the ESC's EEPROM interface (registers 0x0500-0x050F)
// and the SII byte cache behind ec_siigetbyte, for config_init, recovery and the
// mapping code.
#pragma once

#include <cstdint>

#include "ethercat.h"

namespace ecmaster::detail {

// The request half of a "parallel" SII read (config_init): wait idle, clear
// errors, issue the read command of word `eeproma` to `slave`.
void eepromRequest(uint16_t slave, uint16_t eeproma);
// The collect half: wait idle, read 4 bytes of 0x0508. 0 on failure.
uint32_t eepromCollect(uint16_t slave, int timeout);

// Forgets the SII byte cache.
void siiCacheClear();

// ec_siigetbyte for byte addresses of any width (0xFF past the cache), and the
// little-endian word of two such bytes.
uint8_t siiGetByte(uint16_t slave, uint32_t address);
uint16_t siiGetWord(uint16_t slave, uint32_t address);

}  // namespace ecmaster::detail
