#include "platform/single_instance.hpp"

#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

bool AcquireSingleInstanceLock(std::string_view name) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // An abstract name: a zero byte first, then the name; no file is left behind.
    if (name.empty() || name.size() + 1 > sizeof address.sun_path) return false;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        close(fd);
        return false;
    }
    // The socket stays open until the process ends; the kernel then frees the name.
    return true;
}
