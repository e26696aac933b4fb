#include "app/access_level.hpp"

#include "app/settings_file.hpp"

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
