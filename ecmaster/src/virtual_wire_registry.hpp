// The registry behind attachVirtualWire(): interface names with the frame
// processors attached under them.
#pragma once

#include <memory>
#include <string>

#include "ecmaster/virtual_wire.hpp"

namespace ecmaster::detail {
// The processor attached under `name`, or null.
std::shared_ptr<FrameProcessor> findVirtualWire(const std::string& name);
}  // namespace ecmaster::detail
