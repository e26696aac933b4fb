#include "port.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
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
#include <optional>
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
//
// Frames arrive in a receive ring shared with the kernel (TPACKET_V2): a frame
// that waits is read from memory, without a system call. A receive looks there
// first and otherwise waits in epoll on the socket and a timer: a send and a
// wait per round trip, one system call fewer than a raw ping-pong with poll and
// recv takes. The timer holds the deadline. Arming a timer that expires soon
// costs about as much again as the rest of a round trip (the kernel reprograms
// its clock event twice), so it is armed only when it would fire after the
// deadline or has fired already: back-to-back round trips with the same
// timeout share one arming, and a timer that fires early only makes the wait
// look at the clock and arm it again.
class RawNic final : public Nic {
  public:
    ~RawNic() override {
        if (ring_ != nullptr) ::munmap(ring_, kRingBytes);
        for (const int fd : {fd_, timer_, epoll_})
            if (fd >= 0) ::close(fd);
    }

    bool open(const std::string& ifname) {
        if (ifname.empty() || ifname.size() >= IFNAMSIZ) return false;
        fd_ = ::socket(PF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ETH_P_ECAT));
        if (fd_ < 0 || !mapRing()) return false;
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
        // steady_clock is CLOCK_MONOTONIC: the timer takes its deadlines as they are.
        timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
        epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
        if (timer_ < 0 || epoll_ < 0 || !watch(fd_) || !watch(timer_)) return false;
        // Drop whatever came in before we bound (from any interface).
        while (nextFrame() != nullptr) releaseFrame();
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
            if (const int got = take(buf); got > 0) return got;
            const auto now = Clock::now();
            if (now >= deadline) return 0;
            if ((timerAt_ <= now || timerAt_ > deadline) && !armTimer(deadline)) return -1;
            std::array<epoll_event, 2> events{};
            const int n = ::epoll_wait(epoll_, events.data(), events.size(), -1);
            if (n < 0 && errno != EINTR) return -1;
            bool broken = false;  // the interface went away or down
            for (int i = 0; i < n; ++i) {
                if (events[i].data.fd == timer_) {
                    uint64_t expirations = 0;
                    if (::read(timer_, &expirations, sizeof expirations) < 0 && errno != EAGAIN)
                        return -1;
                    timerAt_ = Clock::time_point::min();
                } else if ((events[i].events & (EPOLLERR | EPOLLHUP)) != 0) {
                    clearError();
                    broken = true;
                }
            }
            if (broken) {
                const int got = take(buf);  // what came before it broke
                return got > 0 ? got : -1;
            }
        }
    }

  private:
    // The ring: kRingFrames slots of kSlotBytes in blocks of whole pages; a slot
    // holds the frame's header, its link-level address and a whole Ethernet frame.
    static constexpr unsigned kSlotBytes = 2048;
    static constexpr unsigned kRingFrames = 128;
    static constexpr size_t kRingBytes = size_t{kSlotBytes} * kRingFrames;

    bool mapRing() {
        const int version = TPACKET_V2;
        if (::setsockopt(fd_, SOL_PACKET, PACKET_VERSION, &version, sizeof version) < 0)
            return false;
        const long page = ::sysconf(_SC_PAGESIZE);
        const size_t block =
            std::max<size_t>(page > 0 ? static_cast<size_t>(page) : 4096, kSlotBytes);
        if (kRingBytes % block != 0) return false;
        tpacket_req req{};
        req.tp_block_size = static_cast<unsigned>(block);
        req.tp_block_nr = static_cast<unsigned>(kRingBytes / block);
        req.tp_frame_size = kSlotBytes;
        req.tp_frame_nr = kRingFrames;
        if (::setsockopt(fd_, SOL_PACKET, PACKET_RX_RING, &req, sizeof req) < 0) return false;
        void* ring = ::mmap(nullptr, kRingBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
        if (ring == MAP_FAILED) return false;
        ring_ = static_cast<uint8_t*>(ring);
        return true;
    }

    tpacket2_hdr* slot() const {
        return reinterpret_cast<tpacket2_hdr*>(ring_ + size_t{next_} * kSlotBytes);
    }

    // The slot the kernel fills next, once it holds a frame; nullptr while empty.
    tpacket2_hdr* nextFrame() const {
        tpacket2_hdr* h = slot();
        return (__atomic_load_n(&h->tp_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) != 0 ? h
                                                                                        : nullptr;
    }

    // Hands the slot nextFrame() gave back to the kernel.
    void releaseFrame() {
        __atomic_store_n(&slot()->tp_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
        next_ = (next_ + 1) % kRingFrames;
    }

    // Copies out the waiting frames until one of ours; 0 when none is left.
    int take(std::span<uint8_t> buf) {
        while (const tpacket2_hdr* h = nextFrame()) {
            const auto* from = reinterpret_cast<const sockaddr_ll*>(
                reinterpret_cast<const uint8_t*>(h) + TPACKET_ALIGN(sizeof(tpacket2_hdr)));
            const uint8_t* data = reinterpret_cast<const uint8_t*>(h) + h->tp_mac;
            const size_t n = std::min<size_t>(h->tp_snaplen, buf.size());
            const bool ours = from->sll_pkttype != PACKET_OUTGOING &&
                              h->tp_snaplen >= ecat::kEthHeaderSize &&
                              ((data[12] << 8) | data[13]) == ecat::kEtherType;
            if (ours) std::memcpy(buf.data(), data, n);
            releaseFrame();
            if (ours) return static_cast<int>(n);
        }
        return 0;
    }

    // Reading the socket's pending error clears it: it is reported once.
    void clearError() {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
    }

    bool watch(int fd) {
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.fd = fd;
        return ::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) == 0;
    }

    // Arming also clears an expiry nobody has read yet.
    bool armTimer(Clock::time_point at) {
        const auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
        itimerspec spec{};
        spec.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        spec.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
        if (::timerfd_settime(timer_, TFD_TIMER_ABSTIME, &spec, nullptr) < 0) return false;
        timerAt_ = at;
        return true;
    }

    int fd_ = -1;
    int timer_ = -1;
    int epoll_ = -1;
    uint8_t* ring_ = nullptr;
    unsigned next_ = 0;  // the slot to read next
    // When the timer fires; min() when it is not armed. Only the thread that
    // reads the NIC at the time uses it (as the ring).
    Clock::time_point timerAt_ = Clock::time_point::min();
};

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
// generation again, as the frame was built.
Filing identify(const ecx_portt& p, std::span<uint8_t> frame) {
    if (frame.size() < ecat::kEthHeaderSize + ecat::kEcatHeaderSize + ecat::kDatagramHeaderSize)
        return {};
    size_t first = 0, last = 0, lastTotal = 0;
    bool any = false;
    auto note = [&](size_t pos, size_t total) {
        if (!any) first = pos;
        any = true;
        last = pos;
        lastTotal = total;
    };
    if (!forEachDatagram(frame, note).empty() || !any) return {};
    const uint8_t tag = frame[first + 1];
    const int idx = tag & 0x0F;
    if (p.state[idx] != Slot::Sent || tag != tagOf(p, idx)) return {};  // stale or foreign
    forEachDatagram(frame, [&](size_t pos, size_t) { frame[pos + 1] = static_cast<uint8_t>(idx); });
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

bool sendFrame(int idx, std::span<const uint8_t> frame) {
    if (!validIndex(idx) || frame.size() > ecat::kMaxFrameSize + 4) return false;
    auto& p = port();
    std::shared_ptr<Nic> nic;
    uint8_t tag = 0;
    {
        std::lock_guard lk(p.m);
        if (p.state[idx] == Slot::Free || !p.nic) return false;
        p.state[idx] = Slot::Sent;
        p.rxLength[idx] = 0;
        tag = tagOf(p, idx);
        nic = p.nic;
    }
    // Both back ends take whole frames from several threads at once.
    if (readyToSend(frame, tag)) return nic->send(frame);  // copied by the NIC: sent as it is
    std::array<uint8_t, EC_BUFSIZE> copy;
    std::memcpy(copy.data(), frame.data(), frame.size());
    const size_t size = std::max(frame.size(), ecat::kMinFrameSize);
    std::memset(copy.data() + frame.size(), 0, size - frame.size());  // padding
    forEachDatagram({copy.data(), size}, [&](size_t pos, size_t) { copy[pos + 1] = tag; });
    return nic->send({copy.data(), size});
}

namespace {

// waitFrame() with the deadline as a point in time.
int waitFrameUntil(int idx, std::span<uint8_t> out, size_t& length, Clock::time_point deadline) {
    length = 0;
    if (!validIndex(idx)) return EC_NOFRAME;
    auto& p = port();
    std::array<uint8_t, EC_BUFSIZE> buf;
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
        const Filing f = got > 0 ? identify(p, {buf.data(), static_cast<size_t>(got)}) : Filing{};
        if (f.idx == idx) {  // our own answer: straight to the caller
            length = std::min(static_cast<size_t>(got), out.size());
            std::memcpy(out.data(), buf.data(), length);
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
    Lock lk(p.m);
    old = std::move(p.nic);
    p.nic.reset();
    for (auto& s : p.state)
        if (s == Slot::Received) s = Slot::Alloc;
    unlockAndNotify(p, lk);
    // `old` goes here, or with the last thread still inside a receive.
}

}  // namespace ecmaster::detail
