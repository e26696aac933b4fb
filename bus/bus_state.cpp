#include "bus/bus_state.hpp"

#include "bus/adapter_choice.hpp"
#include "bus/globals.hpp"
#include "bus/process_image.hpp"
#include "bus/scan_thread.hpp"

void ResetBusState() {
    ResetSharedBusState();
    ResetAdapterChoice();
    ResetScanThreadState();
    ResetProcessImage();
}
