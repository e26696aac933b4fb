#include "settings/settings_state.hpp"

#include "settings/settings_values.hpp"

void ResetSettingsState() {
    ResetSettingsToDefaults();
}
