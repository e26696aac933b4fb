#include "ecsim/segment.hpp"

#include <random>
#include <stdexcept>

#include "ecmaster/codec.hpp"
#include "ecsim/slave.hpp"

namespace ecsim {

namespace {

// Cable, PHYs and forwarding in one slave: a frame takes this long per hop.
constexpr int64_t kHopDelayNs = 550;
constexpr uint32_t kSerialBase = 0x00A10000;

int64_t clockOffsetFor(size_t position) {
    // Free-running clocks started at different moments.
    return static_cast<int64_t>(position) * 1'234'567'891 + 987'654'321;
}

}  // namespace

struct Segment::Impl {
    mutable std::mutex mutex;
    std::vector<SlaveSpec> specs;
    std::vector<std::unique_ptr<Slave>> slaves;
    std::vector<bool> powered;
    std::vector<bool> replaced;  // a test gave it its own device
    double dropRate = 0.0;
    std::chrono::microseconds delay{0};
    unsigned dropNext = 0;
    FrameLoss lose;
    std::mt19937_64 random{0x51D0};
    uint64_t frames = 0;
    std::vector<ecat::Datagram> datagrams;  // of the frame in process()
    Clock::time_point epoch = Clock::now();
    StateChangeHook hook;

    size_t index(size_t position) const {
        if (position < 1 || position > slaves.size()) {
            throw std::out_of_range("no slave at position " + std::to_string(position));
        }
        return position - 1;
    }
    // Slaves the frame reaches: those before the first one without power.
    size_t lineLength() const {
        size_t n = 0;
        while (n < slaves.size() && powered[n]) ++n;
        return n;
    }
    void tickAll(Clock::time_point now) {
        for (size_t i = 0; i < slaves.size(); ++i) {
            if (powered[i]) slaves[i]->tick(now);
        }
    }
};

Segment::Segment(const std::vector<SlaveSpec>& slaves) : impl_(std::make_unique<Impl>()) {
    for (size_t i = 0; i < slaves.size(); ++i) {
        SlaveSpec spec = slaves[i];
        if (spec.serial == 0) spec.serial = kSerialBase + static_cast<uint32_t>(i + 1);
        impl_->specs.push_back(spec);
        impl_->slaves.push_back(
            std::make_unique<Slave>(slaveConfigFor(spec), makeDevice(spec), clockOffsetFor(i + 1)));
        const size_t position = i + 1;
        impl_->slaves.back()->setStateHook([this, position](uint16_t from, uint16_t to) {
            if (impl_->hook) impl_->hook(position, from, to);
        });
    }
    impl_->powered.assign(slaves.size(), true);
    impl_->replaced.assign(slaves.size(), false);
}

Segment::~Segment() = default;

ecmaster::Delivery Segment::process(std::span<uint8_t> frame) {
    std::lock_guard lock(impl_->mutex);
    Impl& s = *impl_;
    ++s.frames;
    const auto now = Clock::now();
    // The frame's datagrams, in a list kept from frame to frame.
    s.datagrams.clear();
    const bool wellFormed = ecat::forEachDatagram(frame, [&](size_t pos, size_t) {
                                s.datagrams.emplace_back(&frame[pos]);
                            }).empty();
    const size_t line = s.lineLength();
    // Slaves cut off behind a powered-off one still run (their watchdogs too).
    for (size_t i = line; i < s.slaves.size(); ++i) {
        if (s.powered[i]) s.slaves[i]->tick(now);
    }
    // A damaged frame is destroyed by the first slave; no slave, no return.
    if (!wellFormed || line == 0) return {true, s.delay};

    const int64_t nowNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - s.epoch).count();
    for (size_t k = 0; k < line; ++k) {
        Slave& slave = *s.slaves[k];
        FramePass pass;
        pass.now = now;
        pass.arrivalNs = nowNs + static_cast<int64_t>(k) * kHopDelayNs;
        pass.downstreamLink = k + 1 < line;
        pass.returnAfterNs =
            pass.downstreamLink ? 2 * static_cast<int64_t>(line - k - 1) * kHopDelayNs : 0;
        slave.beginFrame(pass);
        for (auto& d : s.datagrams) slave.process(d);
        slave.endFrame();
    }
    frame[6] |= ecat::kSlaveMacBit;

    bool lost = false;
    if (s.dropNext > 0) {
        --s.dropNext;
        lost = true;
    } else if (s.dropRate > 0.0) {
        lost = std::uniform_real_distribution<double>(0.0, 1.0)(s.random) < s.dropRate;
    }
    if (!lost && s.lose) lost = s.lose(frame);
    return {lost, s.delay};
}

size_t Segment::slaveCount() const {
    return impl_->slaves.size();
}

Slave& Segment::slave(size_t position) {
    return *impl_->slaves[impl_->index(position)];
}

void Segment::replaceDevice(size_t position, std::unique_ptr<Device> device) {
    std::lock_guard lock(impl_->mutex);
    const size_t i = impl_->index(position);
    impl_->slaves[i]->replaceDevice(std::move(device));
    impl_->replaced[i] = true;
}

void Segment::setWatchdog(std::chrono::milliseconds timeout) {
    std::lock_guard lock(impl_->mutex);
    for (auto& slave : impl_->slaves) slave->setWatchdog(timeout);
}

void Segment::tick() {
    std::lock_guard lock(impl_->mutex);
    impl_->tickAll(Clock::now());
}

void Segment::setStateChangeHook(StateChangeHook hook) {
    std::lock_guard lock(impl_->mutex);
    impl_->hook = std::move(hook);
}

void Segment::setDropRate(double fraction) {
    if (!(fraction >= 0.0 && fraction <= 1.0)) {
        throw std::invalid_argument("drop rate must be between 0 and 1");
    }
    std::lock_guard lock(impl_->mutex);
    impl_->dropRate = fraction;
}

void Segment::setDelay(std::chrono::microseconds delay) {
    if (delay.count() < 0) throw std::invalid_argument("delay must not be negative");
    std::lock_guard lock(impl_->mutex);
    impl_->delay = delay;
}

void Segment::dropNext(unsigned frames) {
    std::lock_guard lock(impl_->mutex);
    impl_->dropNext = frames;
}

void Segment::loseWhen(FrameLoss lose) {
    std::lock_guard lock(impl_->mutex);
    impl_->lose = std::move(lose);
}

void Segment::powerOff(size_t position) {
    std::lock_guard lock(impl_->mutex);
    impl_->powered[impl_->index(position)] = false;
}

void Segment::powerOn(size_t position) {
    std::lock_guard lock(impl_->mutex);
    const size_t i = impl_->index(position);
    if (impl_->powered[i]) return;
    impl_->powered[i] = true;
    impl_->slaves[i]->powerOn(impl_->replaced[i] ? nullptr : makeDevice(impl_->specs[i]));
}

void Segment::forceSafeOpError(size_t position, uint16_t alStatusCode) {
    std::lock_guard lock(impl_->mutex);
    impl_->slaves[impl_->index(position)]->forceSafeOpError(alStatusCode);
}

uint64_t Segment::framesProcessed() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->frames;
}

std::unique_lock<std::mutex> Segment::lock() {
    return std::unique_lock(impl_->mutex);
}

}  // namespace ecsim
