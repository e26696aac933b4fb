// Stands in for the bridge model until it exists: a bridge without an
// application behind its slave controller.
#include "ecsim/bridge.hpp"

namespace ecsim {

std::unique_ptr<Device> makeBridgeDevice(const SlaveSpec&) { return std::make_unique<Device>(); }

}  // namespace ecsim
