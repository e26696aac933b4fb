// What this master offers beyond the SOEM API.
#pragma once

#include <cstddef>

// ec_config_map with the size of the caller's buffer: returns 0 without touching
// the slaves' FMMUs when the image would not fit, instead of overrunning it.
int ec_config_map_checked(void* pIOmap, size_t ioMapSize);
