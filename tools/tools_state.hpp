// The tools layer's one reset: the firmware run, board identity, the CiA402 and
// CoE pages' state, homing, the process-data views and the EEPROM image back to
// their program-load state, each module by its own reset. For tests, while no
// bus thread runs.
#pragma once

void ResetToolsState();
