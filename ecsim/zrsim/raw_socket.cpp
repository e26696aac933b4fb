#include "raw_socket.hpp"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "ecmaster/codec.hpp"

namespace zrsim {

namespace {
std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// The ring: kRingFrames slots of kSlotBytes, each holding a frame's header, its
// link-level address and a whole Ethernet frame.
constexpr unsigned kSlotBytes = 2048;
constexpr unsigned kRingFrames = 256;
constexpr size_t kRingBytes = size_t{kSlotBytes} * kRingFrames;
}  // namespace

struct RawSocket::SlotHeader : tpacket2_hdr {};

RawSocket::RawSocket(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ) {
        throw std::runtime_error("bad interface name '" + interfaceName + "'");
    }
    fd_ = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ecat::kEtherType));
    if (fd_ < 0) throw systemError("cannot open a raw socket (needs root or CAP_NET_RAW)");
    auto fail = [this](const std::runtime_error& error) {
        if (ring_ != nullptr) ::munmap(ring_, kRingBytes);
        ::close(fd_);
        throw error;
    };
    ifindex_ = static_cast<int>(if_nametoindex(interfaceName.c_str()));
    if (ifindex_ == 0) fail(std::runtime_error("no interface '" + interfaceName + "'"));
    // Our own answers stay out of the ring (older kernels put them in; next()
    // skips them there).
    const int one = 1;
    ::setsockopt(fd_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    if (!mapRing()) fail(systemError("cannot map a receive ring"));
    // Promiscuous, so frames for any destination reach us; the membership goes
    // away with the socket.
    packet_mreq membership{};
    membership.mr_ifindex = ifindex_;
    membership.mr_type = PACKET_MR_PROMISC;
    if (::setsockopt(fd_, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        fail(systemError("cannot make '" + interfaceName + "' promiscuous"));
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ecat::kEtherType);
    address.sll_ifindex = ifindex_;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fail(systemError("cannot bind to '" + interfaceName + "'"));
    }
}

RawSocket::~RawSocket() {
    if (ring_ != nullptr) ::munmap(ring_, kRingBytes);
    if (fd_ >= 0) ::close(fd_);
}

bool RawSocket::mapRing() {
    const int version = TPACKET_V2;
    if (::setsockopt(fd_, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0) return false;
    const long page = ::sysconf(_SC_PAGESIZE);
    const size_t block = std::max<size_t>(page > 0 ? static_cast<size_t>(page) : 4096, kSlotBytes);
    if (kRingBytes % block != 0) return false;
    tpacket_req req{};
    req.tp_block_size = static_cast<unsigned>(block);
    req.tp_block_nr = static_cast<unsigned>(kRingBytes / block);
    req.tp_frame_size = kSlotBytes;
    req.tp_frame_nr = kRingFrames;
    if (::setsockopt(fd_, SOL_PACKET, PACKET_RX_RING, &req, sizeof req) != 0) return false;
    void* ring = ::mmap(nullptr, kRingBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (ring == MAP_FAILED) return false;
    ring_ = static_cast<uint8_t*>(ring);
    return true;
}

RawSocket::SlotHeader* RawSocket::slot() const {
    return reinterpret_cast<SlotHeader*>(ring_ + size_t{next_} * kSlotBytes);
}

void RawSocket::releaseSlot() {
    __atomic_store_n(&slot()->tp_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    next_ = (next_ + 1) % kRingFrames;
}

std::span<uint8_t> RawSocket::next() {
    for (;;) {
        SlotHeader* h = slot();
        if ((__atomic_load_n(&h->tp_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) == 0) return {};
        const auto* from = reinterpret_cast<const sockaddr_ll*>(
            reinterpret_cast<const uint8_t*>(h) + TPACKET_ALIGN(sizeof(tpacket2_hdr)));
        // Cut short by the slot, or longer than an EtherCAT frame: not ours.
        const bool whole = h->tp_len == h->tp_snaplen && h->tp_len <= ecat::kMaxFrameSize + 4;
        if (from->sll_pkttype != PACKET_OUTGOING && whole) {
            return {reinterpret_cast<uint8_t*>(h) + h->tp_mac, h->tp_snaplen};
        }
        releaseSlot();
    }
}

void RawSocket::release() {
    releaseSlot();
}

bool RawSocket::send(std::span<const uint8_t> frame) {
    // Bound to the interface and the EtherType: the frame carries its own addresses.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t n = ::send(fd_, frame.data(), frame.size(), 0);
        if (n == static_cast<ssize_t>(frame.size())) return true;
        if (n < 0 && errno != EINTR && errno != EAGAIN && errno != ENOBUFS) return false;
    }
    return false;
}

}  // namespace zrsim
