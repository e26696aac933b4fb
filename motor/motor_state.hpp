// The motor layer's one reset: motor initialisation, the serial speed switch,
// the TQL command state and the parameter file back to their program-load
// state, each module by its own reset. For tests, while no bus thread runs.
#pragma once

void ResetMotorState();
