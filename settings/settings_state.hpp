// The settings layer's one reset: every module of the layer back to its
// program-load state (tests, between runs; no bus thread running).
#pragma once

void ResetSettingsState();
