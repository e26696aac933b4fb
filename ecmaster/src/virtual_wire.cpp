#include <map>
#include <mutex>

#include "virtual_wire_registry.hpp"

namespace ecmaster {
namespace {
struct Registry {
    std::mutex m;
    std::map<std::string, std::shared_ptr<FrameProcessor>> wires;
};
Registry& registry() {
    static Registry r;
    return r;
}
}  // namespace

void attachVirtualWire(const std::string& name, std::shared_ptr<FrameProcessor> processor) {
    auto& r = registry();
    std::lock_guard lk(r.m);
    if (processor)
        r.wires[name] = std::move(processor);
    else
        r.wires.erase(name);
}

void detachVirtualWire(const std::string& name) {
    auto& r = registry();
    std::lock_guard lk(r.m);
    r.wires.erase(name);
}

namespace detail {
std::shared_ptr<FrameProcessor> findVirtualWire(const std::string& name) {
    auto& r = registry();
    std::lock_guard lk(r.m);
    auto it = r.wires.find(name);
    return it == r.wires.end() ? nullptr : it->second;
}
}  // namespace detail
}  // namespace ecmaster
