// The homing run of the CoE page: its state, shared by the page's handlers and
// its timer, which supervises a run on every tick while one is active.
#pragma once

#include <atomic>
#include <cstdint>

// 1 while a homing run is supervised, else 0.
extern std::atomic<int32_t> g_homingActive;

// Puts the homing state back to its program-load values (tests).
void ResetHomingState();
