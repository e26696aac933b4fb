#include "platform/single_instance.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

std::string SingleInstanceLockPath(std::string_view name) {
    std::string dir = "/tmp";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) {
        struct stat info {};
        if (runtime[0] == '/' && stat(runtime, &info) == 0 && S_ISDIR(info.st_mode)) {
            dir = runtime;
        }
    }
    return dir + "/" + std::string(name) + ".lock";
}

bool AcquireSingleInstanceLock(std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos) return false;
    const std::string path = SingleInstanceLockPath(name);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return false;
    }
    // The descriptor stays open until the process ends; the kernel then drops
    // the lock. The file itself stays: removing it would let two processes lock
    // two different files of the same name.
    return true;
}
