// The bridge device model (ZR01, ZR02, ZR12): identity, process data for four
// motor channels, the motor text channel with its simulated motors, vendor
// objects, CiA402 axes and the firmware loader.
#pragma once

#include <memory>

#include "ecsim/device.hpp"
#include "ecsim/segment.hpp"

namespace ecsim {

std::unique_ptr<Device> makeBridgeDevice(const SlaveSpec& spec);

}  // namespace ecsim
