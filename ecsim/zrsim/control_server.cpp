#include "control_server.hpp"

#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace zrsim {

namespace {
constexpr size_t kMaxClients = 16;
constexpr size_t kMaxLine = 512;

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;  // the client went away; it is dropped on its next read
        done += static_cast<size_t>(n);
    }
}
}  // namespace

ControlServer::ControlServer(std::string path, Handler handler)
    : path_(std::move(path)), handler_(std::move(handler)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof address.sun_path) {
        throw std::runtime_error("control path '" + path_ + "' is empty or too long");
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    struct stat existing {};
    if (::lstat(path_.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            throw std::runtime_error("control path '" + path_ + "' exists and is not a socket");
        }
        ::unlink(path_.c_str());
    }
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    ready_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (ready_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 4) != 0 || !watch(listener_)) {
        const std::string why = std::strerror(errno);
        ::close(listener_);
        if (ready_ >= 0) ::close(ready_);
        throw std::runtime_error("cannot serve '" + path_ + "': " + why);
    }
}

ControlServer::~ControlServer() {
    for (auto& c : clients_) ::close(c.fd);
    ::close(listener_);
    ::close(ready_);
    ::unlink(path_.c_str());
}

bool ControlServer::watch(int fd) {
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.fd = fd;
    return ::epoll_ctl(ready_, EPOLL_CTL_ADD, fd, &e) == 0;
}

void ControlServer::handle() {
    epoll_event events[kMaxClients + 1];
    const int n = ::epoll_wait(ready_, events, static_cast<int>(kMaxClients + 1), 0);
    bool incoming = false;
    for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == listener_) {
            incoming = true;
            continue;
        }
        const auto it = std::find_if(clients_.begin(), clients_.end(),
                                     [fd](const Client& c) { return c.fd == fd; });
        if (it != clients_.end() && !serve(*it)) {
            ::close(it->fd);  // which also takes it out of the epoll set
            clients_.erase(it);
        }
    }
    if (incoming) accept();
}

void ControlServer::accept() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (clients_.size() >= kMaxClients) {
            writeAll(fd, "error: too many control connections\n");
            ::close(fd);
            continue;
        }
        if (!watch(fd)) {
            ::close(fd);
            continue;
        }
        clients_.push_back({fd, {}});
    }
}

bool ControlServer::serve(Client& client) {
    char buffer[1024];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    client.pending.append(buffer, static_cast<size_t>(n));
    size_t newline;
    while ((newline = client.pending.find('\n')) != std::string::npos) {
        const std::string line = client.pending.substr(0, newline);
        client.pending.erase(0, newline + 1);
        writeAll(client.fd,
                 (line.size() > kMaxLine ? "error: line too long" : handler_(line)) + "\n");
    }
    if (client.pending.size() > kMaxLine) {
        // No end of line in sight: answer once and hang up.
        writeAll(client.fd, "error: line too long\n");
        return false;
    }
    return true;
}

}  // namespace zrsim
