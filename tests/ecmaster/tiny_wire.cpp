#include "tiny_wire.hpp"

#include <atomic>

#include "ethercat.h"

namespace tinywire {
TinyBus::TinyBus() {
    static std::atomic<int> counter{0};
    name = "tiny" + std::to_string(counter++);
    ecmaster::attachVirtualWire(name, wire);
}
TinyBus::~TinyBus() {
    ec_close();
    ecmaster::detachVirtualWire(name);
}
}  // namespace tinywire
