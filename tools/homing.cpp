#include "tools/homing.hpp"

std::atomic<int32_t> g_homingActive{0};

void ResetHomingState() {
    g_homingActive = 0;
}
