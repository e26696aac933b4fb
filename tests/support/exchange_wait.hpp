// Waits until the bus threads' exchange has carried what a procedure left in
// the process image. A pause on the recording clock passes at once, before any
// frame does; a test that lets the device see a held controlword waits here,
// in the clock's onPause, for what the real pause gives.
#pragma once

#include <chrono>
#include <cstdint>

#include "bus/globals.hpp"
#include "support/wait_until.hpp"

namespace testsupport {

// Three packs of the image: packing and the exchange take turns under one
// lock, so at least one exchange went out after the first of them. False when
// the image was not packed (the bus is not exchanging).
inline bool WaitForExchange() {
    for (int pack = 0; pack < 3; ++pack) {
        const int32_t before = g_lastPackedCycle.load();
        if (!WaitUntil([before] { return g_lastPackedCycle.load() != before; },
                       std::chrono::seconds(10), {.pause = std::chrono::microseconds(200)})) {
            return false;
        }
    }
    return true;
}

}  // namespace testsupport
