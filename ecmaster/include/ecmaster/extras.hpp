// What this master offers beyond the SOEM API.
#pragma once

#include <cstddef>
#include <cstdint>

// ec_config_map with the size of the caller's buffer: returns 0 without touching
// the slaves' FMMUs when the image would not fit, instead of overrunning it.
int ec_config_map_checked(void* pIOmap, size_t ioMapSize);

// ec_readeepromAP that tells a failed read from data: 1 with the 4 or 8 bytes
// read in `*value`, 0 when the slave did not deliver them (`*value` is 0 then).
int ec_readeepromAP_checked(uint16_t aiadr, uint16_t eeproma, int timeout, uint64_t* value);

// Forgets the SII bytes cached for `slave`, so that the next SII read asks its
// EEPROM again (after the EEPROM was rewritten behind the cache).
void ec_siicache_drop(uint16_t slave);
