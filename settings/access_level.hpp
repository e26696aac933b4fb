// Access levels from line 2 of the settings file, fixed for the run.
#pragma once

#include <cstdint>

inline constexpr int32_t kServiceLevel = 9617;
inline constexpr int32_t kMakerLevel = 9751;

bool IsMakerLevel();           // g_accessLevel is 9751
bool IsServiceOrMakerLevel();  // g_accessLevel is 9617 or 9751

// The items of the "Tools" menu.
enum class ToolsItem { SoftwareUpDate, MailBox, RxPdoTxPdo, SlaveMemory, BoardInit };

// Whether the item is enabled at start for the current level: all at the maker
// level; only "SoftwareUpDate" at the service level; none otherwise.
bool IsToolsItemEnabled(ToolsItem item);
