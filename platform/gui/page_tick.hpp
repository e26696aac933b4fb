// The one period at which pages and dialogs with stepwise work poll the bus and
// advance their steps; step counts in the windows are in these ticks.
#pragma once

inline constexpr int kPageTickMs = 25;
