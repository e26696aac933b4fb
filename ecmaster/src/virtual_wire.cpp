// The virtual-wire back end: frame processors attached under interface names,
// answering in-process.
#include "ecmaster/virtual_wire.hpp"

#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "nic.hpp"

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
namespace {

std::shared_ptr<FrameProcessor> findVirtualWire(const std::string& name) {
    auto& r = registry();
    std::lock_guard lk(r.m);
    auto it = r.wires.find(name);
    return it == r.wires.end() ? nullptr : it->second;
}

// The in-process virtual wire: the processor answers in the sending thread; the
// answer is queued until its delivery time.
class VirtualNic final : public Nic {
  public:
    explicit VirtualNic(std::shared_ptr<FrameProcessor> processor)
        : processor_(std::move(processor)) {}

    bool send(std::span<const uint8_t> frame) override {
        std::vector<uint8_t> copy(frame.begin(), frame.end());
        const Delivery d = processor_->process(copy);
        if (d.lost) return true;
        const auto due = Clock::now() + d.delay;
        {
            std::lock_guard lk(m_);
            queue_.emplace(due, std::move(copy));
        }
        cv_.notify_all();
        return true;
    }

    int receive(std::span<uint8_t> buf, Clock::time_point deadline) override {
        std::unique_lock lk(m_);
        for (;;) {
            const auto now = Clock::now();
            if (!queue_.empty() && queue_.begin()->first <= now) {
                auto node = queue_.extract(queue_.begin());
                const auto& f = node.mapped();
                const size_t n = std::min(f.size(), buf.size());
                std::memcpy(buf.data(), f.data(), n);
                return static_cast<int>(n);
            }
            if (now >= deadline) return 0;
            auto until = deadline;
            if (!queue_.empty()) until = std::min(until, queue_.begin()->first);
            cv_.wait_until(lk, until);
        }
    }

  private:
    std::shared_ptr<FrameProcessor> processor_;
    std::mutex m_;
    std::condition_variable cv_;
    std::multimap<Clock::time_point, std::vector<uint8_t>> queue_;  // by delivery time
};

}  // namespace

std::shared_ptr<Nic> openVirtualNic(const std::string& name) {
    auto processor = findVirtualWire(name);
    if (!processor) return nullptr;
    return std::make_shared<VirtualNic>(std::move(processor));
}

}  // namespace detail
}  // namespace ecmaster
