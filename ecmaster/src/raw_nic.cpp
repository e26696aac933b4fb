// The raw-socket back end: AF_PACKET with a receive ring shared with the kernel.
#include <arpa/inet.h>
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
#include <cstring>

#include "ecmaster/codec.hpp"
#include "nic.hpp"

namespace ecmaster::detail {
namespace {

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
// look at the clock and arm it again. While it is armed in time, a wait reads
// no clock: a round trip makes the send and the wait, and nothing else.
class RawNic final : public Nic {
  public:
    ~RawNic() override {
        if (ring_ != nullptr) ::munmap(ring_, kRingBytes);
        for (const int fd : {fd_, timer_, epoll_})
            if (fd >= 0) ::close(fd);
    }

    bool open(const std::string& ifname) {
        if (ifname.empty() || ifname.size() >= IFNAMSIZ) return false;
        fd_ = ::socket(PF_PACKET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, htons(ecat::kEtherType));
        if (fd_ < 0 || !mapRing()) return false;
        const int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_DONTROUTE, &one, sizeof one);
        // Our own frames are not copied into the ring as we send them (where the
        // kernel can do that; take() skips them all the same).
        ::setsockopt(fd_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
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
        sll.sll_protocol = htons(ecat::kEtherType);
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
            // A timer armed for this deadline or before it, whose expiry has not
            // been seen, ends the wait in time: no need to read the clock. Once
            // the deadline has passed, that expiry is waiting in epoll already.
            if (timerAt_ == kUnarmed || timerAt_ > deadline) {
                if (Clock::now() >= deadline) return 0;
                if (!armTimer(deadline)) return -1;
            }
            std::array<epoll_event, 2> events{};
            const int n = ::epoll_wait(epoll_, events.data(), events.size(), -1);
            if (n < 0 && errno != EINTR) return -1;
            bool broken = false;  // the interface went away or down
            for (int i = 0; i < n; ++i) {
                if (events[i].data.fd == timer_) {
                    // Its expiry count stays unread: arming clears it, and the
                    // edge-triggered watch reports only new expiries.
                    timerAt_ = kUnarmed;
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

    // Edge-triggered: a wait ends when something new arrives, and the ring is
    // looked at before every wait, so a frame never waits unseen. Level
    // triggering would have each wait after a frame look at the socket again
    // (a poll of the socket per round trip) only to find it empty.
    bool watch(int fd) {
        epoll_event e{};
        e.events = EPOLLIN | EPOLLET;
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
    // When the timer fires; kUnarmed when it is not armed or its expiry was
    // seen. Only the thread that reads the NIC at the time uses it (as the ring).
    static constexpr Clock::time_point kUnarmed = Clock::time_point::min();
    Clock::time_point timerAt_ = kUnarmed;
};

}  // namespace

std::shared_ptr<Nic> openRawNic(const std::string& ifname) {
    auto raw = std::make_shared<RawNic>();
    if (!raw->open(ifname)) return nullptr;
    return raw;
}

}  // namespace ecmaster::detail
