// The supervision thread: keeps the slaves operational, acknowledges errors,
// reconfigures and recovers slaves, and restarts the bus after 20 acknowledgements.
#pragma once

// Thread body; returns when the bus threads stop.
void SupervisionThread();
