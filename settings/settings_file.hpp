// The settings file "SetDataFile.set" in the working directory: read once at
// start into the settings values, written from them at Quit.
#pragma once

#include <string>

#include "settings/settings_values.hpp"

inline constexpr char kSettingsFileName[] = "SetDataFile.set";

// Reads "SetDataFile.set" into the nine values; reports failures in a message box
// and keeps the values read so far and the defaults for the rest.
void LoadSettingsFile();
// Writes the nine values to "SetDataFile.set"; "File Write Open Error" when it
// can't be opened.
void SaveSettingsFile();

// The same on another path (tests).
void LoadSettingsFileFrom(const std::string& path);
void SaveSettingsFileTo(const std::string& path);
