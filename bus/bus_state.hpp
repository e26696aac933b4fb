// The bus layer's one reset: every shared value of the bus (bridge table, shadow
// arrays, flags, counters, logs, process image, adapter hand-shake, interface
// name) back to its program-load value, each module by its own reset. For tests,
// between runs of the bus threads; only while they are stopped.
#pragma once

void ResetBusState();
