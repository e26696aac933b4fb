// The port: frame indexes, their generations, and which thread reads the NIC
// for everybody; the NIC back ends are in raw_nic.cpp and virtual_wire.cpp.
#include "port.hpp"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "ecmaster/codec.hpp"
#include "nic.hpp"

namespace ecmaster::detail {
namespace {

enum class Slot : uint8_t { Free, Alloc, Sent, Received };

}  // namespace
}  // namespace ecmaster::detail

// The port object behind `ecx_context.port`. Its layout is ours; applications
// only pass its address around.
struct ecx_port {
    std::mutex m;
    std::condition_variable cv;
    // Threads waiting on `cv` (for an index, or for the thread that reads the
    // NIC). With none, changes notify nobody: one caller at a time never pays
    // for a wake-up.
    int waiters = 0;
    std::shared_ptr<ecmaster::detail::Nic> nic;
    std::array<ecmaster::detail::Slot, EC_MAXBUF> state{};
    std::array<std::array<uint8_t, EC_BUFSIZE>, EC_MAXBUF> rx{};
    std::array<size_t, EC_MAXBUF> rxLength{};
    std::array<int, EC_MAXBUF> rxWkc{};
    // Each allocation of an index gets a new generation, carried in the high
    // nibble of the datagram index byte on the wire, so that a late frame of an
    // earlier use of the same index is never taken for the answer of this one.
    std::array<uint8_t, EC_MAXBUF> generation{};
    int lastIndex = EC_MAXBUF - 1;
    bool reading = false;  // one thread at a time reads the NIC for everybody
};

ecx_portt ecx_port;

namespace ecmaster::detail {
namespace {

ecx_portt& port() {
    return ecx_port;
}

bool validIndex(int idx) {
    return idx >= 0 && idx < EC_MAXBUF;
}
static_assert(EC_MAXBUF == 16, "the index byte holds the index in its low nibble");

using ecat::forEachDatagram;
using Lock = std::unique_lock<std::mutex>;

// Waits on the port's condition variable (lock held) until notified or `deadline`.
void waitForChange(ecx_portt& p, Lock& lk, Clock::time_point deadline) {
    ++p.waiters;
    p.cv.wait_until(lk, deadline);
    --p.waiters;
}

// Releases the lock, then wakes the waiters if there are any.
void unlockAndNotify(ecx_portt& p, Lock& lk) {
    const bool anyone = p.waiters > 0;
    lk.unlock();
    if (anyone) p.cv.notify_all();
}

uint8_t tagOf(const ecx_portt& p, int idx) {
    return static_cast<uint8_t>(idx | (p.generation[idx] << 4));
}

// Where a received frame belongs: its index, and the wkc of its last datagram.
struct Filing {
    int idx = -1;
    int wkc = 0;
};

// Called with p.m held. The index a received frame answers, if a frame was sent
// with it and is still awaited; the datagram index bytes then lose their
// generation again, as the frame was built. One walk over the datagrams.
Filing identify(const ecx_portt& p, std::span<uint8_t> frame) {
    int idx = -1;
    uint8_t tag = 0;
    size_t last = 0, lastTotal = 0;
    auto strip = [&](size_t pos, size_t total) {
        if (idx < 0) {
            tag = frame[pos + 1];
            idx = tag & 0x0F;
        }
        frame[pos + 1] = static_cast<uint8_t>(idx);
        last = pos;
        lastTotal = total;
    };
    if (!forEachDatagram(frame, strip).empty() || idx < 0) return {};
    if (p.state[idx] != Slot::Sent || tag != tagOf(p, idx)) return {};  // stale or foreign
    return {idx, ecat::get16(&frame[last + lastTotal - ecat::kWkcSize])};
}

// True when every datagram of `frame` already carries `tag` and the frame has
// its padding: it can go onto the wire as it is.
bool readyToSend(std::span<const uint8_t> frame, uint8_t tag) {
    if (frame.size() < ecat::kMinFrameSize) return false;
    bool ready = true;
    const bool wellFormed = forEachDatagram(frame, [&](size_t pos, size_t) {
                                ready = ready && frame[pos + 1] == tag;
                            }).empty();
    return wellFormed && ready;
}

}  // namespace

int allocIndex() {
    return allocIndexWait(0);
}

void releaseIndex(int idx) {
    if (!validIndex(idx)) return;
    auto& p = port();
    Lock lk(p.m);
    p.state[idx] = Slot::Free;
    p.rxLength[idx] = 0;
    unlockAndNotify(p, lk);
}

int allocIndexWait(int timeoutUs) {
    auto& p = port();
    std::optional<Clock::time_point> deadline;  // read the clock only when none is free
    Lock lk(p.m);
    for (;;) {
        for (int i = 1; i <= EC_MAXBUF; ++i) {
            const int idx = (p.lastIndex + i) % EC_MAXBUF;
            if (p.state[idx] == Slot::Free) {
                p.state[idx] = Slot::Alloc;
                p.generation[idx] = static_cast<uint8_t>((p.generation[idx] + 1) & 0x0F);
                p.lastIndex = idx;
                return idx;
            }
        }
        if (timeoutUs <= 0) return -1;
        const auto now = Clock::now();
        if (!deadline) deadline = now + std::chrono::microseconds(timeoutUs);
        if (now >= *deadline) return -1;
        waitForChange(p, lk, *deadline);
    }
}

uint8_t indexTag(int idx) {
    // Only the holder of the index reads its generation outside the lock, and
    // only the allocation it made itself changed it.
    return validIndex(idx) ? tagOf(port(), idx) : 0;
}

namespace {

// Marks `idx` sent and gives the NIC to send with; null when the index is not
// allocated or the port is closed.
std::shared_ptr<Nic> markSent(int idx, uint8_t& tag) {
    if (!validIndex(idx)) return nullptr;
    auto& p = port();
    std::lock_guard lk(p.m);
    if (p.state[idx] == Slot::Free || !p.nic) return nullptr;
    p.state[idx] = Slot::Sent;
    p.rxLength[idx] = 0;
    tag = tagOf(p, idx);
    return p.nic;
}

}  // namespace

bool sendFrame(int idx, std::span<const uint8_t> frame) {
    if (frame.size() > ecat::kMaxFrameSize + 4) return false;
    uint8_t tag = 0;
    const std::shared_ptr<Nic> nic = markSent(idx, tag);
    if (!nic) return false;
    // Both back ends take whole frames from several threads at once.
    if (readyToSend(frame, tag)) return nic->send(frame);  // copied by the NIC: sent as it is
    std::array<uint8_t, EC_BUFSIZE> copy;
    std::memcpy(copy.data(), frame.data(), frame.size());
    const size_t size = std::max(frame.size(), ecat::kMinFrameSize);
    std::memset(copy.data() + frame.size(), 0, size - frame.size());  // padding
    forEachDatagram({copy.data(), size}, [&](size_t pos, size_t) { copy[pos + 1] = tag; });
    return nic->send({copy.data(), size});
}

bool sendTaggedFrame(int idx, std::span<const uint8_t> frame) {
    uint8_t tag = 0;
    const std::shared_ptr<Nic> nic = markSent(idx, tag);
    return nic && nic->send(frame);
}

namespace {

// waitFrame() with the deadline as a point in time.
int waitFrameUntil(int idx, std::span<uint8_t> out, size_t& length, Clock::time_point deadline) {
    length = 0;
    if (!validIndex(idx)) return EC_NOFRAME;
    auto& p = port();
    // A frame is read into the caller's buffer when it holds a whole one: the
    // answer awaited is then not copied again.
    std::array<uint8_t, EC_BUFSIZE> own;
    const std::span<uint8_t> buf = out.size() >= own.size() ? out.first(own.size()) : own;
    bool readOnce = false;  // even a zero timeout looks at what has already arrived
    Lock lk(p.m);
    for (;;) {
        if (p.state[idx] == Slot::Received) {
            length = std::min(p.rxLength[idx], out.size());
            std::memcpy(out.data(), p.rx[idx].data(), length);
            p.state[idx] = Slot::Alloc;
            return p.rxWkc[idx];
        }
        if (p.state[idx] != Slot::Sent || !p.nic) return EC_NOFRAME;
        if (readOnce && Clock::now() >= deadline) return EC_NOFRAME;
        if (p.reading) {
            if (Clock::now() >= deadline) return EC_NOFRAME;
            waitForChange(p, lk, deadline);
            continue;
        }
        p.reading = true;
        auto nic = p.nic;
        lk.unlock();
        const int got = nic->receive(buf, deadline);
        lk.lock();
        readOnce = true;
        p.reading = false;
        const Filing f = got > 0 ? identify(p, buf.first(static_cast<size_t>(got))) : Filing{};
        if (f.idx == idx) {  // our own answer: straight to the caller
            length = std::min(static_cast<size_t>(got), out.size());
            if (buf.data() != out.data()) std::memcpy(out.data(), buf.data(), length);
            p.state[idx] = Slot::Alloc;
            unlockAndNotify(p, lk);  // somebody else may read now
            return f.wkc;
        }
        if (f.idx >= 0) {  // filed for its own waiter
            const size_t n = std::min(static_cast<size_t>(got), p.rx[f.idx].size());
            std::memcpy(p.rx[f.idx].data(), buf.data(), n);
            p.rxLength[f.idx] = n;
            p.rxWkc[f.idx] = f.wkc;
            p.state[f.idx] = Slot::Received;
        }
        if (p.waiters > 0) p.cv.notify_all();
        if (got < 0) {
            // A broken socket: do not spin; let the deadline run out.
            waitForChange(p, lk, std::min(deadline, Clock::now() + std::chrono::milliseconds(1)));
        }
    }
}

}  // namespace

int waitFrame(int idx, std::span<uint8_t> out, size_t& length, int timeoutUs) {
    return waitFrameUntil(idx, out, length,
                          Clock::now() + std::chrono::microseconds(std::max(timeoutUs, 0)));
}

int roundTrip(int idx, std::span<const uint8_t> frame, std::span<uint8_t> out, size_t& length,
              int timeoutUs) {
    length = 0;
    if (!validIndex(idx)) return EC_NOFRAME;
    // Each sending gets its slice from the moment it is made (the first from the
    // start, a syscall earlier: one reading of the clock less per round trip).
    auto sent = Clock::now();
    const auto deadline = sent + std::chrono::microseconds(std::max(timeoutUs, 0));
    const auto slice = std::chrono::microseconds(std::min(std::max(timeoutUs, 0), EC_TIMEOUTRET));
    for (;;) {
        if (!sendFrame(idx, frame) && !portOpen()) return EC_NOFRAME;
        const int wkc = waitFrameUntil(idx, out, length, std::min(deadline, sent + slice));
        if (wkc != EC_NOFRAME) return wkc;
        sent = Clock::now();
        if (sent >= deadline) return EC_NOFRAME;
    }
}

bool portOpen() {
    auto& p = port();
    std::lock_guard lk(p.m);
    return p.nic != nullptr;
}

bool openPort(const std::string& ifname) {
    std::shared_ptr<Nic> nic = openVirtualNic(ifname);
    if (!nic) nic = openRawNic(ifname);
    if (!nic) return false;
    auto& p = port();
    std::lock_guard lk(p.m);
    p.nic = std::move(nic);
    for (auto& s : p.state)
        if (s == Slot::Sent || s == Slot::Received) s = Slot::Alloc;
    return true;
}

void closePort() {
    auto& p = port();
    std::shared_ptr<Nic> old;
    Lock lk(p.m);
    old = std::move(p.nic);
    p.nic.reset();
    for (auto& s : p.state)
        if (s == Slot::Received) s = Slot::Alloc;
    unlockAndNotify(p, lk);
    // `old` goes here, or with the last thread still inside a receive.
}

}  // namespace ecmaster::detail
