#include "settings/access_level.hpp"

#include "settings/settings_values.hpp"

bool IsMakerLevel() {
    return g_accessLevel.load() == kMakerLevel;
}

bool IsServiceOrMakerLevel() {
    const int32_t level = g_accessLevel.load();
    return level == kServiceLevel || level == kMakerLevel;
}

bool IsToolsItemEnabled(ToolsItem item) {
    if (IsMakerLevel()) return true;
    return IsServiceOrMakerLevel() && item == ToolsItem::SoftwareUpDate;
}
