#include "raw_socket.hpp"

#include <arpa/inet.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "ecmaster/codec.hpp"

namespace zrsim {

namespace {
std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

RawSocket::RawSocket(const std::string& interfaceName) {
    if (interfaceName.empty() || interfaceName.size() >= IFNAMSIZ) {
        throw std::runtime_error("bad interface name '" + interfaceName + "'");
    }
    fd_ = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ecat::kEtherType));
    if (fd_ < 0) throw systemError("cannot open a raw socket (needs root or CAP_NET_RAW)");
    ifindex_ = static_cast<int>(if_nametoindex(interfaceName.c_str()));
    if (ifindex_ == 0) {
        ::close(fd_);
        throw std::runtime_error("no interface '" + interfaceName + "'");
    }
    // Our own answers are not handed back to us (older kernels do; receive()
    // skips them there).
    const int one = 1;
    ::setsockopt(fd_, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    // Promiscuous, so frames for any destination reach us; the membership goes
    // away with the socket.
    packet_mreq membership{};
    membership.mr_ifindex = ifindex_;
    membership.mr_type = PACKET_MR_PROMISC;
    if (::setsockopt(fd_, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
        const auto error = systemError("cannot make '" + interfaceName + "' promiscuous");
        ::close(fd_);
        throw error;
    }
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ecat::kEtherType);
    address.sll_ifindex = ifindex_;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const auto error = systemError("cannot bind to '" + interfaceName + "'");
        ::close(fd_);
        throw error;
    }
}

RawSocket::~RawSocket() {
    if (fd_ >= 0) ::close(fd_);
}

size_t RawSocket::receive(std::span<uint8_t> buffer) {
    sockaddr_ll from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0) return 0;
    if (from.sll_pkttype == PACKET_OUTGOING) return 0;     // our own answers
    if (static_cast<size_t>(n) > buffer.size()) return 0;  // not an EtherCAT-sized frame
    return static_cast<size_t>(n);
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
