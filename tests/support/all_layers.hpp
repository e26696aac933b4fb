// The whole tool back to its program-load state: the bus threads stopped, then
// each layer's one reset, bottom up. What a fixture that owns the bus does
// before and after its test; a fixture inside a running bus resets only the
// layers it changes.
#pragma once

#include "bus/bus_state.hpp"
#include "bus/bus_threads.hpp"
#include "motor/motor_state.hpp"
#include "settings/settings_state.hpp"
#include "tools/tools_state.hpp"

namespace testsupport {

inline void ResetAllLayers() {
    StopBusThreads();
    ResetSettingsState();
    ResetBusState();
    ResetMotorState();
    ResetToolsState();
}

}  // namespace testsupport
