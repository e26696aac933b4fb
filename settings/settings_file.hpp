// The settings file "SetDataFile.set" in the working directory: read once at
// start into the settings values, written from them at Quit.
#pragma once

#include <string>

#include "settings/settings_values.hpp"

inline constexpr char kSettingsFileName[] = "SetDataFile.set";

// Reads "SetDataFile.set" into the nine values; reports failures in a message box
// and keeps the values read so far and the defaults for the rest.
void LoadSettingsFile();
// Writes the nine values to "SetDataFile.set" through the safe writer and
// returns what to tell the user: nothing on success, "File Write Open Error"
// when the file can't be made (or is a link or no regular file), a write error
// when the data did not reach the disk. On failure the old file stays.
std::wstring SaveSettingsFile();

// The same on another path (tests).
void LoadSettingsFileFrom(const std::string& path);
std::wstring SaveSettingsFileTo(const std::string& path);
