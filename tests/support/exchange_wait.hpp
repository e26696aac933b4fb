// Waits until the bus threads' exchange has carried what a procedure left in
// the process image. A pause on the recording clock passes at once, before any
// frame does; a test that lets the device see a held controlword waits here,
// in the clock's onPause, for what the real pause gives.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

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

// The motors' controlwords as the GUI thread holds them.
inline std::vector<uint16_t> ControlWords() {
    std::vector<uint16_t> words;
    for (const auto& word : g_ctrlWord) words.push_back(word.load());
    return words;
}

// For a recording clock's onPause: a pause that finds a controlword changed
// since the last one carried waits until the exchange has sent it, as the real
// pause would let it; other pauses pass at once.
inline std::function<void(int ms)> CarryNewControlWords() {
    return [carried = ControlWords()](int) mutable {
        std::vector<uint16_t> words = ControlWords();
        if (words == carried) return;
        EXPECT_TRUE(WaitForExchange()) << "the exchange stands still";
        carried = std::move(words);
    };
}

}  // namespace testsupport
