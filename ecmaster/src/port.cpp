#include "port.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "ecmaster/codec.hpp"
#include "virtual_wire_registry.hpp"

using Clock = std::chrono::steady_clock;

namespace ecmaster::detail {
namespace {

// One NIC back end: sends whole frames, receives whole frames with a deadline.
class Nic {
  public:
    virtual ~Nic() = default;
    virtual bool send(std::span<const uint8_t> frame) = 0;
    // Bytes received into `buf`, 0 when the deadline passed, -1 on a failure.
    virtual int receive(std::span<uint8_t> buf, Clock::time_point deadline) = 0;
};

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

// AF_PACKET raw socket bound to EtherType 0x88A4 on one interface.
class RawNic final : public Nic {
  public:
    ~RawNic() override {
        if (fd_ >= 0) ::close(fd_);
    }

    bool open(const std::string& ifname) {
        if (ifname.empty() || ifname.size() >= IFNAMSIZ) return false;
        fd_ = ::socket(PF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_ECAT));
        if (fd_ < 0) return false;
        const int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_DONTROUTE, &one, sizeof one);
        ifreq ifr{};
        std::memcpy(ifr.ifr_name, ifname.c_str(), ifname.size() + 1);
        if (::ioctl(fd_, SIOCGIFINDEX, &ifr) < 0) return false;
        const int ifindex = ifr.ifr_ifindex;
        // Promiscuous through a packet membership: undone by the kernel when the
        // socket closes, whatever way the process ends.
        packet_mreq mr{};
        mr.mr_ifindex = ifindex;
        mr.mr_type = PACKET_MR_PROMISC;
        if (::setsockopt(fd_, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &mr, sizeof mr) < 0) return false;
        sockaddr_ll sll{};
        sll.sll_family = AF_PACKET;
        sll.sll_ifindex = ifindex;
        sll.sll_protocol = htons(ETH_P_ECAT);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&sll), sizeof sll) < 0) return false;
        // Drop whatever was queued before we bound.
        std::array<uint8_t, EC_BUFSIZE> junk{};
        while (::recv(fd_, junk.data(), junk.size(), MSG_DONTWAIT) > 0) {
        }
        return true;
    }

    bool send(std::span<const uint8_t> frame) override {
        for (int attempt = 0; attempt < 3; ++attempt) {
            const ssize_t n = ::send(fd_, frame.data(), frame.size(), 0);
            if (n == static_cast<ssize_t>(frame.size())) return true;
            if (n < 0 && errno != EINTR && errno != EAGAIN && errno != ENOBUFS) return false;
        }
        return false;
    }

    int receive(std::span<uint8_t> buf, Clock::time_point deadline) override {
        for (;;) {
            sockaddr_ll from{};
            socklen_t fromLen = sizeof from;
            const ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), MSG_DONTWAIT | MSG_TRUNC,
                                         reinterpret_cast<sockaddr*>(&from), &fromLen);
            if (n > 0) {
                if (from.sll_pkttype == PACKET_OUTGOING) continue;  // our own frame
                if (n < 14 || buf[12] != 0x88 || buf[13] != 0xA4) continue;
                return static_cast<int>(std::min<size_t>(static_cast<size_t>(n), buf.size()));
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
            const auto now = Clock::now();
            if (now >= deadline) return 0;
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
            timespec ts{};
            ts.tv_sec = static_cast<time_t>(left.count() / 1000000000);
            ts.tv_nsec = static_cast<long>(left.count() % 1000000000);
            pollfd pfd{fd_, POLLIN, 0};
            const int r = ::ppoll(&pfd, 1, &ts, nullptr);
            if (r < 0 && errno != EINTR) return -1;
            if (r > 0 && (pfd.revents & (POLLERR | POLLNVAL | POLLHUP)) && !(pfd.revents & POLLIN))
                return -1;
        }
    }

  private:
    int fd_ = -1;
};

enum class Slot : uint8_t { Free, Alloc, Sent, Received };

}  // namespace
}  // namespace ecmaster::detail

// The port object behind `ecx_context.port`. Its layout is ours; applications
// only pass its address around.
struct ecx_port {
    std::mutex m;
    std::condition_variable cv;
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
    std::mutex tx;         // one frame at a time onto the wire
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

// Called with p.m held: files a received frame under its index if somebody sent one.
void store(ecx_portt& p, std::span<uint8_t> frame) {
    if (frame.size() < ecat::kEthHeaderSize + ecat::kEcatHeaderSize + ecat::kDatagramHeaderSize)
        return;
    size_t first = 0, last = 0, lastTotal = 0;
    bool any = false;
    auto note = [&](size_t pos, size_t total) {
        if (!any) first = pos;
        any = true;
        last = pos;
        lastTotal = total;
    };
    if (!forEachDatagram(frame, note).empty() || !any) return;
    const uint8_t tag = frame[first + 1];
    const int idx = tag & 0x0F;
    if (p.state[idx] != Slot::Sent || (tag >> 4) != p.generation[idx]) return;  // stale or foreign
    forEachDatagram(frame, [&](size_t pos, size_t) { frame[pos + 1] = static_cast<uint8_t>(idx); });
    const size_t n = std::min(frame.size(), p.rx[idx].size());
    std::memcpy(p.rx[idx].data(), frame.data(), n);
    p.rxLength[idx] = n;
    p.rxWkc[idx] = ecat::get16(&frame[last + lastTotal - ecat::kWkcSize]);
    p.state[idx] = Slot::Received;
}

}  // namespace

int allocIndex() {
    return allocIndexWait(0);
}

void releaseIndex(int idx) {
    if (!validIndex(idx)) return;
    auto& p = port();
    {
        std::lock_guard lk(p.m);
        p.state[idx] = Slot::Free;
        p.rxLength[idx] = 0;
    }
    p.cv.notify_all();
}

int allocIndexWait(int timeoutUs) {
    auto& p = port();
    const auto deadline = Clock::now() + std::chrono::microseconds(std::max(timeoutUs, 0));
    std::unique_lock lk(p.m);
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
        if (p.cv.wait_until(lk, deadline) == std::cv_status::timeout) return -1;
    }
}

bool sendFrame(int idx, std::span<const uint8_t> frame) {
    if (!validIndex(idx) || frame.size() > ecat::kMaxFrameSize + 4) return false;
    auto& p = port();
    std::shared_ptr<Nic> nic;
    uint8_t generation = 0;
    {
        std::lock_guard lk(p.m);
        if (p.state[idx] == Slot::Free || !p.nic) return false;
        p.state[idx] = Slot::Sent;
        p.rxLength[idx] = 0;
        generation = p.generation[idx];
        nic = p.nic;
    }
    std::array<uint8_t, EC_BUFSIZE> copy;
    std::memcpy(copy.data(), frame.data(), frame.size());
    const size_t size = std::max(frame.size(), ecat::kMinFrameSize);
    std::memset(copy.data() + frame.size(), 0, size - frame.size());  // padding
    const auto tag = static_cast<uint8_t>(idx | (generation << 4));
    forEachDatagram({copy.data(), size}, [&](size_t pos, size_t) { copy[pos + 1] = tag; });
    std::lock_guard tx(p.tx);
    return nic->send({copy.data(), size});
}

int waitFrame(int idx, std::span<uint8_t> out, size_t& length, int timeoutUs) {
    length = 0;
    if (!validIndex(idx)) return EC_NOFRAME;
    auto& p = port();
    const auto deadline = Clock::now() + std::chrono::microseconds(std::max(timeoutUs, 0));
    std::array<uint8_t, EC_BUFSIZE> buf;
    bool readOnce = false;  // even a zero timeout looks at what has already arrived
    std::unique_lock lk(p.m);
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
            p.cv.wait_until(lk, deadline);
            continue;
        }
        p.reading = true;
        auto nic = p.nic;
        lk.unlock();
        const int got = nic->receive(buf, deadline);
        lk.lock();
        readOnce = true;
        p.reading = false;
        if (got > 0) store(p, {buf.data(), static_cast<size_t>(got)});
        p.cv.notify_all();
        if (got < 0) {
            // A broken socket: do not spin; let the deadline run out.
            p.cv.wait_until(lk, std::min(deadline, Clock::now() + std::chrono::milliseconds(1)));
        }
    }
}

int roundTrip(int idx, std::span<const uint8_t> frame, std::span<uint8_t> out, size_t& length,
              int timeoutUs) {
    length = 0;
    if (!validIndex(idx)) return EC_NOFRAME;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::microseconds(std::max(timeoutUs, 0));
    const int slice = std::min(std::max(timeoutUs, 0), EC_TIMEOUTRET);
    int wkc = EC_NOFRAME;
    do {
        if (!sendFrame(idx, frame) && !portOpen()) return EC_NOFRAME;
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        const int wait = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>(slice, left)));
        wkc = waitFrame(idx, out, length, wait);
    } while (wkc == EC_NOFRAME && Clock::now() < deadline);
    return wkc;
}

bool portOpen() {
    auto& p = port();
    std::lock_guard lk(p.m);
    return p.nic != nullptr;
}

bool openPort(const std::string& ifname) {
    std::shared_ptr<Nic> nic;
    if (auto processor = findVirtualWire(ifname)) {
        nic = std::make_shared<VirtualNic>(std::move(processor));
    } else {
        auto raw = std::make_shared<RawNic>();
        if (!raw->open(ifname)) return false;
        nic = std::move(raw);
    }
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
    {
        std::lock_guard lk(p.m);
        old = std::move(p.nic);
        p.nic.reset();
        for (auto& s : p.state)
            if (s == Slot::Received) s = Slot::Alloc;
    }
    p.cv.notify_all();
    // `old` goes here, or with the last thread still inside a receive.
}

}  // namespace ecmaster::detail
