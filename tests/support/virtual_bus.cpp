#include "support/virtual_bus.hpp"

#include <atomic>
#include <stdexcept>

#include "ethercat.h"

namespace testsupport {

namespace {
std::string freshName() {
    static std::atomic<int> counter{0};
    return "vsim" + std::to_string(counter++);
}

std::vector<ecsim::SlaveSpec> parseOrThrow(const std::string& list) {
    std::string error;
    auto specs = ecsim::parseSlaveList(list, &error);
    if (!specs) throw std::invalid_argument("bad slave list '" + list + "': " + error);
    return *specs;
}
}  // namespace

VirtualBus::VirtualBus(const std::vector<ecsim::SlaveSpec>& slaves)
    : name_(freshName()), segment_(std::make_shared<ecsim::Segment>(slaves)) {
    ecmaster::attachVirtualWire(name_, segment_);
}

VirtualBus::VirtualBus(const std::string& slaveList) : VirtualBus(parseOrThrow(slaveList)) {}

VirtualBus::~VirtualBus() {
    ec_close();
    ecmaster::detachVirtualWire(name_);
}

}  // namespace testsupport
